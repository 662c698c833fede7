// Loading config.ini and values.ini into the real main window: the grammar of both files as read
// from real bytes on disk, every failure with the message box it shows, and what a failed load
// leaves changed.

#include "messageboxwatcher.h"
#include "testfiles.h"

#include "ui/mainwindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QDir>
#include <QLineEdit>
#include <QStatusBar>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

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

const QByteArray typicalValues = "prodVal=db-prod\ndevVal=db-dev\nprodVal=/srv/prod\ndevVal=/srv/dev\n";

} // namespace

class tst_LoadSettings : public QObject
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
    // Builds the window as the program does; when its load fails, runs the event loop that the
    // program would run and checks that it ends at once with status 0.
    void constructWindow();
    QString substitute(QString text) const;
    QStringList substitute(const QStringList &texts) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsFiles> m_settings;
    std::unique_ptr<MessageBoxWatcher> m_boxes;
    std::unique_ptr<MainWindow> m_window;
};

void tst_LoadSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("arbre")));
    m_settings = std::make_unique<SettingsFiles>();
    m_boxes = std::make_unique<MessageBoxWatcher>();
}

void tst_LoadSettings::cleanup()
{
    m_window.reset();
    m_boxes.reset();
    m_settings.reset();
    m_dir.reset();
}

QString tst_LoadSettings::substitute(QString text) const
{
    return text.replace(QStringLiteral("%DIR%"), m_dir->path() + QStringLiteral("/arbre"))
            .replace(QStringLiteral("%APP%"), appDir());
}

QStringList tst_LoadSettings::substitute(const QStringList &texts) const
{
    QStringList result;
    for (const QString &text : texts)
        result.append(substitute(text));
    return result;
}

void tst_LoadSettings::constructWindow()
{
    m_window = std::make_unique<MainWindow>();
    if (!m_window->startupFailed())
        return;
    const EventLoopWatchdog watchdog;
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY2(!watchdog.fired(), "the event loop did not end by itself");
    QVERIFY(!m_window->isVisible());
}

void tst_LoadSettings::configGrammar_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("mainDir");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<bool>("prodActive");
    QTest::addColumn<QStringList>("boxes");

    const QStringList none;
    const QString defaultFilter = QStringLiteral("*;*.*;.*;*.");

    QTest::newRow("three lines, LF")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.ini;*.xml\nEnvironnement=dev\n") << true
            << "%DIR%" << "*.ini;*.xml" << false << none;
    QTest::newRow("CRLF line ends")
            << QByteArray("MainDir=%DIR%\r\nFilesFilter=*.ini\r\nEnvironnement=dev\r\n") << true
            << "%DIR%" << "*.ini" << false << none;
    QTest::newRow("UTF-8 byte-order mark before the first key")
            << QByteArray("\xEF\xBB\xBFMainDir=%DIR%\nEnvironnement=dev\n") << true << "%DIR%"
            << defaultFilter << false << none;
    QTest::newRow("last line without line end")
            << QByteArray("MainDir=%DIR%\nEnvironnement=dev") << true << "%DIR%" << defaultFilter
            << false << none;
    QTest::newRow("keys in any case")
            << QByteArray("maindir=%DIR%\nFILESFILTER=*.txt\nenvironnement=dev\n") << true
            << "%DIR%" << "*.txt" << false << none;
    QTest::newRow("key after a blank is ignored")
            << QByteArray(" MainDir=%DIR%\nEnvironnement=dev\n") << false << "" << "" << false
            << QStringList{ "Mirabex | " + m3Text() };
    QTest::newRow("blank after MainDir= belongs to the path")
            << QByteArray("MainDir= %DIR%\nEnvironnement=dev\n") << false << " %DIR%" << ""
            << false
            << QStringList{ "Erreur | Impossible d'ouvrir le dossier  %DIR%",
                            "Mirabex | " + m3Text() };
    QTest::newRow("first non-empty MainDir= wins")
            << QByteArray("MainDir=\nMainDir=%DIR%\nMainDir=/ailleurs\nEnvironnement=dev\n")
            << true << "%DIR%" << defaultFilter << false << none;
    QTest::newRow("no MainDir= line")
            << QByteArray("FilesFilter=*.ini\nEnvironnement=dev\n") << false << "" << "" << false
            << QStringList{ "Mirabex | " + m3Text() };
    QTest::newRow("empty config.ini")
            << QByteArray() << false << "" << "" << true
            << QStringList{ "Mirabex | " + m3Text() };
    QTest::newRow("missing directory")
            << QByteArray("MainDir=%DIR%/absent\nEnvironnement=dev\n") << false << "%DIR%/absent"
            << "" << false
            << QStringList{ "Erreur | Impossible d'ouvrir le dossier %DIR%/absent",
                            "Mirabex | " + m3Text() };
    QTest::newRow("empty FilesFilter= gives the default")
            << QByteArray("MainDir=%DIR%\nFilesFilter=\nEnvironnement=dev\n") << true << "%DIR%"
            << defaultFilter << false << none;
    QTest::newRow("last FilesFilter= wins")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.a\nFilesFilter=*.b\nEnvironnement=dev\n")
            << true << "%DIR%" << "*.b" << false << none;
    QTest::newRow("filter kept untrimmed")
            << QByteArray("MainDir=%DIR%\nFilesFilter= *.ini ; *.xml \nEnvironnement=dev\n")
            << true << "%DIR%" << " *.ini ; *.xml " << false << none;
    QTest::newRow("production")
            << QByteArray("MainDir=%DIR%\nEnvironnement=production\n") << true << "%DIR%"
            << defaultFilter << true << none;
    QTest::newRow("value ending in prod")
            << QByteArray("MainDir=%DIR%\nEnvironnement=serveur-prod\n") << true << "%DIR%"
            << defaultFilter << true << none;
    QTest::newRow("both words: prod is searched first")
            << QByteArray("MainDir=%DIR%\nEnvironnement=devprod\n") << true << "%DIR%"
            << defaultFilter << true << none;
    QTest::newRow("last Environnement= line decides")
            << QByteArray("MainDir=%DIR%\nEnvironnement=prod\nEnvironnement=dev\n") << true
            << "%DIR%" << defaultFilter << false << none;
    QTest::newRow("no Environnement= line: production")
            << QByteArray("MainDir=%DIR%\n") << true << "%DIR%" << defaultFilter << true << none;
    QTest::newRow("capital letter in the word")
            << QByteArray("MainDir=%DIR%\nEnvironnement=Prod\n") << false << "%DIR%" << "" << true
            << QStringList{ "Mirabex | " + m2Text() };
    QTest::newRow("upper-case DEV")
            << QByteArray("MainDir=%DIR%\nEnvironnement=DEV\n") << false << "%DIR%" << "" << true
            << QStringList{ "Mirabex | " + m2Text() };
    QTest::newRow("empty environment")
            << QByteArray("MainDir=%DIR%\nEnvironnement=\n") << false << "%DIR%" << "" << true
            << QStringList{ "Mirabex | " + m2Text() };
    QTest::newRow("lines after a bad environment are not read")
            << QByteArray("Environnement=dev\nEnvironnement=recette\nMainDir=%DIR%\n") << false
            << "" << "" << false << QStringList{ "Mirabex | " + m2Text() };
    QTest::newRow("UTF-16 with byte-order mark")
            << utf16WithBom(QStringLiteral("MainDir=%DIR%\r\nFilesFilter=*.é\r\nEnvironnement=dev\r\n"))
            << true << "%DIR%" << "*.é" << false << none;
}

void tst_LoadSettings::configGrammar()
{
    QFETCH(QByteArray, config);
    QFETCH(bool, loaded);
    QFETCH(QString, mainDir);
    QFETCH(QString, filter);
    QFETCH(bool, prodActive);
    QFETCH(QStringList, boxes);

    // The placeholder is replaced in the text, whatever its encoding.
    const bool utf16 = config.startsWith("\xFF\xFE");
    if (utf16) {
        QString text = QStringDecoder(QStringConverter::Utf16LE).decode(config.mid(2));
        config = utf16WithBom(substitute(text));
    } else {
        config = substitute(QString::fromUtf8(config)).toUtf8();
    }
    m_settings->writeConfig(config);
    m_settings->writeValues(typicalValues);

    constructWindow();

    QCOMPARE(m_boxes->summaries(), substitute(boxes));
    QCOMPARE(!m_window->startupFailed(), loaded);
    QCOMPARE(m_window->mainDirectory(), substitute(mainDir));
    QCOMPARE(m_window->isProdActive(), prodActive);
    const auto *filterField = m_window->findChild<QLineEdit *>(QStringLiteral("leFilterFiles"));
    QCOMPARE(filterField->text(), filter);
    if (loaded) {
        QCOMPARE(m_window->filesFilterText(), filter);
        QCOMPARE(m_window->statusBar()->currentMessage(),
                 QStringLiteral("Dossier de recherche : ") + substitute(mainDir));
        QCOMPARE(m_window->productionValues(), (QStringList{ "db-prod", "/srv/prod" }));
    } else {
        QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    }
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
    QTest::newRow("keys in any case, CRLF")
            << QByteArray("PRODVAL=a\r\ndevval=b\r\n") << QStringList{ "a" } << QStringList{ "b" }
            << true;
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
    QTest::newRow("no value at all") << QByteArray("# rien\n") << QStringList() << QStringList()
                                     << false;
    QTest::newRow("empty file") << QByteArray() << QStringList() << QStringList() << false;
}

void tst_LoadSettings::valuesGrammar()
{
    QFETCH(QByteArray, values);
    QFETCH(QStringList, prodValues);
    QFETCH(QStringList, devValues);
    QFETCH(bool, loaded);

    m_settings->writeConfig(substitute(QStringLiteral("MainDir=%DIR%\nEnvironnement=prod\n")).toUtf8());
    m_settings->writeValues(values);
    constructWindow();

    QCOMPARE(!m_window->startupFailed(), loaded);
    QCOMPARE(m_window->productionValues(), prodValues);
    QCOMPARE(m_window->developmentValues(), devValues);
    if (loaded) {
        QVERIFY(m_boxes->boxes().isEmpty());
    } else {
        QCOMPARE(m_boxes->summaries(), QStringList{ "Mirabex | " + m4Text() });
        const SeenMessageBox &box = m_boxes->boxes().constFirst();
        // The line break of the message is markup on purpose.
        QCOMPARE(box.textFormat, Qt::RichText);
        QCOMPARE(box.parent.data(), m_window.get());
        QCOMPARE(box.icon, QMessageBox::Critical);
    }
}

void tst_LoadSettings::failureBoxes_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("parentIsWindow");

    QTest::newRow("config.ini missing")
            << "no config" << QStringList{ "Erreur | Impossible d'ouvrir le fichier %APP%/config.ini" }
            << false;
    QTest::newRow("values.ini missing")
            << "no values" << QStringList{ "Erreur | Impossible d'ouvrir le fichier %APP%/values.ini" }
            << false;
    QTest::newRow("config.ini cannot be opened")
            << "config is a folder"
            << QStringList{ "Mirabex | impossible d'ouvrir le fichier %APP%/config.ini" } << true;
    QTest::newRow("values.ini cannot be opened")
            << "values is a folder"
            << QStringList{ "Mirabex | impossible d'ouvrir le fichier %APP%/values.ini" } << true;
}

void tst_LoadSettings::failureBoxes()
{
    QFETCH(QString, situation);
    QFETCH(QStringList, boxes);
    QFETCH(bool, parentIsWindow);

    if (situation != QLatin1String("no config"))
        m_settings->writeConfig(substitute(QStringLiteral("MainDir=%DIR%\n")).toUtf8());
    if (situation != QLatin1String("no values"))
        m_settings->writeValues(typicalValues);
    // Something that exists but cannot be read as a file, even by root.
    if (situation == QLatin1String("config is a folder")) {
        m_settings->removeAll();
        QVERIFY(QDir().mkpath(SettingsFiles::configPath()));
    } else if (situation == QLatin1String("values is a folder")) {
        QFile::remove(SettingsFiles::valuesPath());
        QVERIFY(QDir().mkpath(SettingsFiles::valuesPath()));
    }

    constructWindow();

    QCOMPARE(m_boxes->summaries(), substitute(boxes));
    const SeenMessageBox &box = m_boxes->boxes().constFirst();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent.data(), parentIsWindow ? m_window.get() : nullptr);
    QVERIFY(m_window->startupFailed());
}

void tst_LoadSettings::failedStartupEndsWithStatusZero()
{
    // No settings at all: the box, then the end of the program, the window never shown.
    constructWindow();
    QCOMPARE(m_boxes->boxes().size(), 1);
    QVERIFY(m_window->startupFailed());
    QVERIFY(!m_window->isVisible());
    const auto *logo = m_window->findChild<QLabel *>(QStringLiteral("labelLogo"));
    QVERIFY(logo->pixmap().isNull());
}

void tst_LoadSettings::boxesAreShownAsWritten()
{
    // A directory whose name holds markup characters shows them as they are.
    const QString strange = m_dir->path() + QStringLiteral("/<b>R&D</b>");
    m_settings->writeConfig((QStringLiteral("MainDir=") + strange + QStringLiteral("\n")).toUtf8());
    m_settings->writeValues(typicalValues);
    constructWindow();

    QCOMPARE(m_boxes->boxes().size(), 2);
    const SeenMessageBox &box = m_boxes->boxes().constFirst();
    QCOMPARE(box.text, QStringLiteral("Impossible d'ouvrir le dossier ") + strange);
    QCOMPARE(box.textFormat, Qt::PlainText);
    QCOMPARE(m_boxes->boxes().at(1).textFormat, Qt::PlainText);
}

void tst_LoadSettings::laterLoadKeepsChosenDirectoryAndTypedFilter()
{
    m_settings->writeConfig(substitute(QStringLiteral("MainDir=%DIR%\nFilesFilter=*.ini\n")).toUtf8());
    m_settings->writeValues(typicalValues);
    constructWindow();
    QVERIFY(!m_window->startupFailed());

    // The filter field shows FilesFilter=; what the user types there wins over the file.
    auto *filterField = m_window->findChild<QLineEdit *>(QStringLiteral("leFilterFiles"));
    QCOMPARE(filterField->text(), QStringLiteral("*.ini"));
    filterField->setText(QStringLiteral("*.conf"));

    // config.ini now names another directory: the directory in force stays.
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("autre")));
    m_settings->writeConfig((QStringLiteral("MainDir=") + m_dir->path()
                             + QStringLiteral("/autre\nFilesFilter=*.xml\nEnvironnement=dev\n"))
                                    .toUtf8());
    QVERIFY(m_window->loadSettings());
    QCOMPARE(m_window->mainDirectory(), substitute(QStringLiteral("%DIR%")));
    QCOMPARE(m_window->filesFilterText(), QStringLiteral("*.conf"));
    QCOMPARE(filterField->text(), QStringLiteral("*.conf"));
    QVERIFY(!m_window->isProdActive());

    // An emptied field is filled again from the file.
    filterField->clear();
    QVERIFY(m_window->loadSettings());
    QCOMPARE(filterField->text(), QStringLiteral("*.xml"));

    // The sub-directory box is read at each load.
    m_window->findChild<QCheckBox *>(QStringLiteral("cbSubdirs"))->setChecked(false);
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
            << typicalValues << false << "*.new" << "" << previous << false;
    QTest::newRow("directory removed since the last load")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\n")
            << typicalValues << false << "*.new" << "" << previous << false;
    QTest::newRow("values.ini missing")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\n") << QByteArray()
            << false << "*.new" << "*.new" << previous << true;
    QTest::newRow("uneven values")
            << QByteArray("MainDir=%DIR%\nFilesFilter=*.new\nEnvironnement=dev\n")
            << QByteArray("prodVal=a\nprodVal=b\ndevVal=c\n") << false << "*.new" << "*.new"
            << QStringList{ "a", "b" } << true;
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
    m_settings->writeConfig(substitute(QStringLiteral("MainDir=%DIR%\nFilesFilter=*.old\n")).toUtf8());
    m_settings->writeValues(QByteArray("prodVal=old-prod\ndevVal=old-dev\n"));
    constructWindow();
    QVERIFY(!m_window->startupFailed());
    auto *field = m_window->findChild<QLineEdit *>(QStringLiteral("leFilterFiles"));
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
    m_settings->writeConfig(substitute(QStringLiteral("MainDir=%DIR%\nEnvironnement=dev\n")).toUtf8());
    m_settings->writeValues(typicalValues);
    QTest::ignoreMessage(QtDebugMsg, "Environnement=dev");
    constructWindow();
}

QTEST_MAIN(tst_LoadSettings)
#include "tst_loadsettings.moc"
