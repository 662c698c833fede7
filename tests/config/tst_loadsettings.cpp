// Loading config.ini and values.ini: the grammar of both files as read from real bytes on disk,
// then, in the real main window, every failure with the message box it shows, and what a failed
// load leaves changed.

#include "windowfixture.h"

#include "config/settingsload.h"

#include <QCheckBox>
#include <QLabel>
#include <QDir>
#include <QLineEdit>
#include <QStatusBar>
#include <QStringEncoder>
#include <QTest>

using Fault = SettingsLoad::Fault;

namespace {

QString appDir()
{
    return QCoreApplication::applicationDirPath();
}

QString m2Text()
{
    return QStringLiteral("Valeur Environnement= dans le fichier ") + appDir()
            + QStringLiteral("/config.ini incorrecte");
}

QString m3Text()
{
    return QStringLiteral("Valeur MainDir= dans le fichier ") + appDir()
            + QStringLiteral("/config.ini incorrecte");
}

QString m4Text()
{
    return QStringLiteral("Les valeurs dans le fichier ") + appDir()
            + QStringLiteral("/values.ini sont incorrectes.<br />Vérifier leur présence ou leur "
                             "parité.");
}

QByteArray utf16WithBom(const QString &text)
{
    QStringEncoder encoder(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE", 2) + QByteArray(encoder.encode(text));
}

const QByteArray typicalValues =
        "prodVal=db-prod\ndevVal=db-dev\nprodVal=/srv/prod\ndevVal=/srv/dev\n";

} // namespace

Q_DECLARE_METATYPE(Fault)

class tst_LoadSettings : public WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void configGrammar_data();
    void configGrammar();
    void valuesGrammar_data();
    void valuesGrammar();
    void failureBoxes_data();
    void failureBoxes();
    void failedStartupEndsWithStatusZero();
    void boxesAreShownAsWritten();
    void laterLoadKeepsChosenDirectoryAndTypedFilter();
    void failedLoadLeavesEarlierState_data();
    void failedLoadLeavesEarlierState();
    void environmentLineGoesToDebugOutput();

private:
    QString substitute(QString text) const;
    QStringList substitute(const QStringList &texts) const;
    // Reads the settings files written into the temporary folder, with nothing in force.
    SettingsLoad load(const QByteArray &config, const QByteArray &values) const;
};

void tst_LoadSettings::init()
{
    initFixture();
}

void tst_LoadSettings::cleanup()
{
    cleanupFixture();
}

QString tst_LoadSettings::substitute(QString text) const
{
    return text.replace(QStringLiteral("%DIR%"), tree()).replace(QStringLiteral("%APP%"), appDir());
}

QStringList tst_LoadSettings::substitute(const QStringList &texts) const
{
    QStringList result;
    for (const QString &text : texts)
        result.append(substitute(text));
    return result;
}

SettingsLoad tst_LoadSettings::load(const QByteArray &config, const QByteArray &values) const
{
    writeBytes(m_dir->path() + QStringLiteral("/config.ini"), config);
    writeBytes(m_dir->path() + QStringLiteral("/values.ini"), values);
    return loadSettingsFiles(m_dir->path(), {});
}

void tst_LoadSettings::configGrammar_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("mainDir");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("prodActive");
    QTest::addColumn<Fault>("fault");

    const QString defaultFilter = QStringLiteral("*;*.*;.*;*.");

    QTest::newRow("three lines, LF")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.ini;*.xml\nEnvironnement=dev\n") << "%DIR%"
            << "*.ini;*.xml" << false << Fault::None;
    QTest::newRow("CRLF line ends")
            << QByteArray("MainDir=%DIR%\r\nFilesFilter=*.ini\r\nEnvironnement=dev\r\n") << "%DIR%"
            << "*.ini" << false << Fault::None;
    QTest::newRow("UTF-8 byte-order mark before the first key")
            << QByteArray("\xEF\xBB\xBFMainDir=%DIR%\nEnvironnement=dev\n") << "%DIR%"
            << defaultFilter << false << Fault::None;
    QTest::newRow("last line without line end") << QByteArray("MainDir=%DIR%\nEnvironnement=dev")
                                                << "%DIR%" << defaultFilter << false << Fault::None;
    QTest::newRow("keys in any case")
            << QByteArray("maindir=%DIR%\nFILESFILTER=*.txt\nenvironnement=dev\n") << "%DIR%"
            << "*.txt" << false << Fault::None;
    QTest::newRow("key after a blank is ignored")
            << QByteArray(" MainDir=%DIR%\nEnvironnement=dev\n") << ""
            << "" << false << Fault::BadMainDir;
    QTest::newRow("blank after MainDir= belongs to the path")
            << QByteArray("MainDir= %DIR%\nEnvironnement=dev\n") << " %DIR%"
            << "" << false << Fault::BadMainDir;
    QTest::newRow("first non-empty MainDir= wins")
            << QByteArray("MainDir=\nMainDir=%DIR%\nMainDir=/ailleurs\nEnvironnement=dev\n")
            << "%DIR%" << defaultFilter << false << Fault::None;
    QTest::newRow("no MainDir= line") << QByteArray("FilesFilter=*.ini\nEnvironnement=dev\n") << ""
                                      << "" << false << Fault::BadMainDir;
    QTest::newRow("empty config.ini") << QByteArray() << ""
                                      << "" << true << Fault::BadMainDir;
    QTest::newRow("missing directory")
            << QByteArray("MainDir=%DIR%/absent\nEnvironnement=dev\n") << "%DIR%/absent"
            << "" << false << Fault::BadMainDir;
    QTest::newRow("empty FilesFilter= gives the default")
            << QByteArray("MainDir=%DIR%\nFilesFilter=\nEnvironnement=dev\n") << "%DIR%"
            << defaultFilter << false << Fault::None;
    QTest::newRow("last FilesFilter= wins")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.a\nFilesFilter=*.b\nEnvironnement=dev\n")
            << "%DIR%"
            << "*.b" << false << Fault::None;
    QTest::newRow("filter kept untrimmed")
            << QByteArray("MainDir=%DIR%\nFilesFilter= *.ini ; *.xml \nEnvironnement=dev\n")
            << "%DIR%"
            << " *.ini ; *.xml " << false << Fault::None;
    QTest::newRow("production") << QByteArray("MainDir=%DIR%\nEnvironnement=production\n")
                                << "%DIR%" << defaultFilter << true << Fault::None;
    QTest::newRow("value ending in prod")
            << QByteArray("MainDir=%DIR%\nEnvironnement=serveur-prod\n") << "%DIR%" << defaultFilter
            << true << Fault::None;
    QTest::newRow("both words: prod is searched first")
            << QByteArray("MainDir=%DIR%\nEnvironnement=devprod\n") << "%DIR%" << defaultFilter
            << true << Fault::None;
    QTest::newRow("last Environnement= line decides")
            << QByteArray("MainDir=%DIR%\nEnvironnement=prod\nEnvironnement=dev\n") << "%DIR%"
            << defaultFilter << false << Fault::None;
    QTest::newRow("no Environnement= line: production")
            << QByteArray("MainDir=%DIR%\n") << "%DIR%" << defaultFilter << true << Fault::None;
    QTest::newRow("capital letter in the word")
            << QByteArray("MainDir=%DIR%\nEnvironnement=Prod\n") << "%DIR%"
            << "" << true << Fault::BadEnvironment;
    QTest::newRow("upper-case DEV") << QByteArray("MainDir=%DIR%\nEnvironnement=DEV\n") << "%DIR%"
                                    << "" << true << Fault::BadEnvironment;
    QTest::newRow("empty environment") << QByteArray("MainDir=%DIR%\nEnvironnement=\n") << "%DIR%"
                                       << "" << true << Fault::BadEnvironment;
    QTest::newRow("lines after a bad environment are not read")
            << QByteArray("Environnement=dev\nEnvironnement=recette\nMainDir=%DIR%\n") << ""
            << "" << false << Fault::BadEnvironment;
    QTest::newRow("UTF-16 with byte-order mark") << utf16WithBom(
            QStringLiteral("MainDir=%DIR%\r\nFilesFilter=*.é\r\nEnvironnement=dev\r\n"))
                                                 << "%DIR%"
                                                 << "*.é" << false << Fault::None;
}

void tst_LoadSettings::configGrammar()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, mainDir);
    QFETCH(QString, filter);
    QFETCH(bool, prodActive);
    QFETCH(Fault, fault);

    // The placeholder is replaced in the text, whatever its encoding.
    if (config.startsWith("\xFF\xFE"))
        config = utf16WithBom(
                substitute(QStringDecoder(QStringConverter::Utf16LE).decode(config.mid(2))));
    else
        config = substitute(QString::fromUtf8(config)).toUtf8();
    const SettingsLoad result = load(config, typicalValues);

    QCOMPARE(result.fault, fault);
    // The folder box comes before the MainDir= box when the folder named does not exist.
    QCOMPARE(result.mainDirMissing, fault == Fault::BadMainDir && !mainDir.isEmpty());
    QCOMPARE(result.config.mainDir, substitute(mainDir));
    QCOMPARE(result.config.prodActive.value_or(true), prodActive);
    QCOMPARE(result.filesFilter, filter);
    QCOMPARE(result.values.prodValues,
             fault == Fault::None ? QStringList({ "db-prod", "/srv/prod" }) : QStringList());
}

void tst_LoadSettings::valuesGrammar_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QStringList>("prodValues");
    QTest::addColumn<QStringList>("devValues");
    QTest::addColumn<bool>("loaded");

    QTest::newRow("alternating pairs")
            << QByteArray("prodVal=a\ndevVal=b\nprodVal=c\ndevVal=d\n") << QStringList{ "a", "c" }
            << QStringList{ "b", "d" } << true;
    QTest::newRow("all production values first")
            << QByteArray("prodVal=a\nprodVal=c\ndevVal=b\ndevVal=d") << QStringList{ "a", "c" }
            << QStringList{ "b", "d" } << true;
    QTest::newRow("keys in any case, CRLF") << QByteArray("PRODVAL=a\r\ndevval=b\r\n")
                                            << QStringList{ "a" } << QStringList{ "b" } << true;
    QTest::newRow("values untrimmed, with = signs")
            << QByteArray("prodVal= x=1 \ndevVal=y==2  \n") << QStringList{ " x=1 " }
            << QStringList{ "y==2  " } << true;
    QTest::newRow("empty value counts towards parity")
            << QByteArray("prodVal=\ndevVal=b\n") << QStringList{ "" } << QStringList{ "b" }
            << true;
    QTest::newRow("devVal= right after prodVal=")
            << QByteArray("prodVal=devVal=x\n") << QStringList{ "devVal=x" } << QStringList{ "x" }
            << true;
    QTest::newRow("other lines ignored")
            << QByteArray("[valeurs]\n# commentaire\n prodVal=z\nprodVal=a\ndevVal=b\n")
            << QStringList{ "a" } << QStringList{ "b" } << true;
    QTest::newRow("byte-order mark and accents")
            << QByteArray("\xEF\xBB\xBFprodVal=h\xC3\xB4te\ndevVal=h\xC3\xB4te-dev\n")
            << QStringList{ QStringLiteral("hôte") } << QStringList{ QStringLiteral("hôte-dev") }
            << true;
    QTest::newRow("three production values, two development values")
            << QByteArray("prodVal=a\nprodVal=b\nprodVal=c\ndevVal=x\ndevVal=y\n")
            << QStringList{ "a", "b", "c" } << QStringList{ "x", "y" } << false;
    QTest::newRow("no value at all")
            << QByteArray("# rien\n") << QStringList() << QStringList() << false;
    QTest::newRow("empty file") << QByteArray() << QStringList() << QStringList() << false;
}

void tst_LoadSettings::valuesGrammar()
{
    QFETCH(QByteArray, values);
    QFETCH(QStringList, prodValues);
    QFETCH(QStringList, devValues);
    QFETCH(bool, loaded);

    const SettingsLoad result = load(
            substitute(QStringLiteral("MainDir=%DIR%\nEnvironnement=prod\n")).toUtf8(), values);
    QCOMPARE(result.fault, loaded ? Fault::None : Fault::ValuesIncomplete);
    QCOMPARE(result.values.prodValues, prodValues);
    QCOMPARE(result.values.devValues, devValues);
}

void tst_LoadSettings::failureBoxes_data()
{
    QTest::addColumn<QByteArray>("config"); // null: no file; "/": a folder
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("parentIsWindow");

    const QByteArray config = "MainDir=%DIR%\n";
    QTest::newRow("config.ini missing")
            << QByteArray() << typicalValues
            << QStringList{ "Erreur | Impossible d'ouvrir le fichier %APP%/config.ini" } << false;
    QTest::newRow("values.ini missing")
            << config << QByteArray()
            << QStringList{ "Erreur | Impossible d'ouvrir le fichier %APP%/values.ini" } << false;
    // Something that exists but cannot be read as a file, even by root.
    QTest::newRow("config.ini cannot be opened")
            << QByteArray("/") << typicalValues
            << QStringList{ "Mirabex | impossible d'ouvrir le fichier %APP%/config.ini" } << true;
    QTest::newRow("values.ini cannot be opened")
            << config << QByteArray("/")
            << QStringList{ "Mirabex | impossible d'ouvrir le fichier %APP%/values.ini" } << true;
    QTest::newRow("bad environment")
            << QByteArray("MainDir=%DIR%\nEnvironnement=Prod\n") << typicalValues
            << QStringList{ "Mirabex | " + m2Text() } << true;
    QTest::newRow("no MainDir= line") << QByteArray("Environnement=dev\n") << typicalValues
                                      << QStringList{ "Mirabex | " + m3Text() } << true;
    QTest::newRow("missing directory")
            << QByteArray("MainDir=%DIR%/absent\n") << typicalValues
            << QStringList{ "Erreur | Impossible d'ouvrir le dossier %DIR%/absent",
                            "Mirabex | " + m3Text() }
            << false;
    QTest::newRow("uneven values") << config << QByteArray("prodVal=a\n")
                                   << QStringList{ "Mirabex | " + m4Text() } << true;
}

void tst_LoadSettings::failureBoxes()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, values);
    QFETCH(QStringList, boxes);
    QFETCH(bool, parentIsWindow);

    const QList<QPair<QString, QByteArray>> files{ { SettingsFiles::configPath(), config },
                                                   { SettingsFiles::valuesPath(), values } };
    for (const auto &[path, bytes] : files) {
        if (bytes == "/")
            QVERIFY(QDir().mkpath(path));
        else if (!bytes.isNull())
            writeBytes(path, substitute(QString::fromUtf8(bytes)).toUtf8());
    }

    startWindow();

    QCOMPARE(m_boxes->summaries(), substitute(boxes));
    const SeenMessageBox &box = m_boxes->boxes().constFirst();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent.data(), parentIsWindow ? m_window.get() : nullptr);
    // The line break of the values.ini box is markup on purpose; every other text is plain.
    QCOMPARE(box.textFormat,
             box.text.contains(QLatin1String("<br />")) ? Qt::RichText : Qt::PlainText);
    QVERIFY(m_window->startupFailed());
}

void tst_LoadSettings::failedStartupEndsWithStatusZero()
{
    // No settings at all: the box, then the end of the program, the window never shown.
    startWindow();
    QCOMPARE(m_boxes->boxes().size(), 1);
    QVERIFY(m_window->startupFailed());
    QVERIFY(!m_window->isVisible());
    QVERIFY(child<QLabel>("labelLogo")->pixmap().isNull());
}

void tst_LoadSettings::boxesAreShownAsWritten()
{
    // A directory whose name holds markup characters shows them as they are.
    const QString strange = m_dir->path() + QStringLiteral("/<b>R&D</b>");
    m_settings->writeConfig((QStringLiteral("MainDir=") + strange + QStringLiteral("\n")).toUtf8());
    m_settings->writeValues(typicalValues);
    startWindow();

    QCOMPARE(m_boxes->boxes().size(), 2);
    const SeenMessageBox &box = m_boxes->boxes().constFirst();
    QCOMPARE(box.text, QStringLiteral("Impossible d'ouvrir le dossier ") + strange);
    QCOMPARE(box.textFormat, Qt::PlainText);
    QCOMPARE(m_boxes->boxes().at(1).textFormat, Qt::PlainText);
}

void tst_LoadSettings::laterLoadKeepsChosenDirectoryAndTypedFilter()
{
    m_settings->writeConfig(
            substitute(QStringLiteral("MainDir=%DIR%\nFilesFilter=*.ini\n")).toUtf8());
    m_settings->writeValues(typicalValues);
    makeWindow();

    // The filter field shows FilesFilter=; what the user types there wins over the file.
    QLineEdit *field = filterField();
    QCOMPARE(field->text(), QStringLiteral("*.ini"));
    field->setText(QStringLiteral("*.conf"));

    // config.ini now names another directory: the directory in force stays.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("autre")));
    m_settings->writeConfig((QStringLiteral("MainDir=") + m_dir->path()
                             + QStringLiteral("/autre\nFilesFilter=*.xml\nEnvironnement=dev\n"))
                                    .toUtf8());
    QVERIFY(m_window->loadSettings());
    QCOMPARE(m_window->mainDirectory(), substitute(QStringLiteral("%DIR%")));
    QCOMPARE(m_window->filesFilterText(), QStringLiteral("*.conf"));
    QCOMPARE(field->text(), QStringLiteral("*.conf"));
    QVERIFY(!m_window->isProdActive());

    // An emptied field is filled again from the file.
    field->clear();
    QVERIFY(m_window->loadSettings());
    QCOMPARE(field->text(), QStringLiteral("*.xml"));

    // The sub-directory box is read at each load.
    subdirsBox()->setChecked(false);
    QVERIFY(m_window->recursesSubdirs());
    QVERIFY(m_window->loadSettings());
    QVERIFY(!m_window->recursesSubdirs());
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_LoadSettings::failedLoadLeavesEarlierState_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<bool>("prodActive");
    QTest::addColumn<QString>("filesFilter");
    QTest::addColumn<QString>("filterField");
    QTest::addColumn<QStringList>("prodValues");
    QTest::addColumn<bool>("statusShown");

    const QStringList previous{ "old-prod" };
    QTest::newRow("bad environment after a valid one")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\nEnvironnement=x\n")
            << typicalValues << false << "*.new"
            << "" << previous << false;
    QTest::newRow("directory removed since the last load")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\n") << typicalValues
            << false << "*.new"
            << "" << previous << false;
    QTest::newRow("values.ini missing")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\n") << QByteArray()
            << false << "*.new"
            << "*.new" << previous << true;
    QTest::newRow("uneven values")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\n")
            << QByteArray("prodVal=a\nprodVal=b\ndevVal=c\n") << false << "*.new"
            << "*.new" << QStringList{ "a", "b" } << true;
}

void tst_LoadSettings::failedLoadLeavesEarlierState()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, values);
    QFETCH(bool, prodActive);
    QFETCH(QString, filesFilter);
    QFETCH(QString, filterField);
    QFETCH(QStringList, prodValues);
    QFETCH(bool, statusShown);

    // A successful first load, in production, with an empty filter field afterwards.
    m_settings->writeConfig(
            substitute(QStringLiteral("MainDir=%DIR%\nFilesFilter=*.old\n")).toUtf8());
    m_settings->writeValues(QByteArray("prodVal=old-prod\ndevVal=old-dev\n"));
    makeWindow();
    auto *field = child<QLineEdit>("leFilterFiles");
    field->clear();
    m_window->statusBar()->clearMessage();

    // A later load that fails.
    m_settings->writeConfig(substitute(QString::fromUtf8(config)).toUtf8());
    if (QByteArray(QTest::currentDataTag()).startsWith("directory removed"))
        QVERIFY(QDir(substitute(QStringLiteral("%DIR%"))).removeRecursively());
    if (values.isEmpty())
        QFile::remove(SettingsFiles::valuesPath());
    else
        m_settings->writeValues(values);
    QVERIFY(!m_window->loadSettings());
    QVERIFY(!m_boxes->boxes().isEmpty());

    QCOMPARE(m_window->isProdActive(), prodActive);
    QCOMPARE(m_window->filesFilterText(), filesFilter);
    QCOMPARE(field->text(), filterField);
    QCOMPARE(m_window->productionValues(), prodValues);
    QCOMPARE(!m_window->statusBar()->currentMessage().isEmpty(), statusShown);
}

void tst_LoadSettings::environmentLineGoesToDebugOutput()
{
    m_settings->writeConfig(
            substitute(QStringLiteral("MainDir=%DIR%\nEnvironnement=dev\n")).toUtf8());
    m_settings->writeValues(typicalValues);
    QTest::ignoreMessage(QtDebugMsg, "Environnement=dev");
    startWindow();
}

QTEST_MAIN(tst_LoadSettings)
#include "tst_loadsettings.moc"
