// Settings files that are empty, binary, huge, written in UTF-16 or UTF-32, or hold NUL bytes:
// the real main window, built and driven as the program runs it, neither crashes nor hangs on
// them, takes from them what they really say, tells the user in a box when it cannot use them,
// and changes no byte of the tree or of config.ini that it should leave alone.

#include "windowfixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QStringEncoder>
#include <QTest>

namespace {

// Stands for the tree's path in the rows of the data functions, which run before the tree exists.
const QByteArray treeMark = QByteArrayLiteral("%TREE%");

// The filter of the settings used throughout; the last pattern is not ASCII.
const QString filterText = QStringLiteral("*.ini;*.xml;*.txt;*.été");

constexpr qsizetype hugeSize = qsizetype(100) * 1024 * 1024;

QString appDir()
{
    return QCoreApplication::applicationDirPath();
}

QString summary(const QString &title, const QString &text)
{
    return title + QStringLiteral(" | ") + text;
}

QString mainDirBox()
{
    return summary(QStringLiteral("Mirabex"),
                   QStringLiteral("Valeur MainDir= dans le fichier ") + appDir()
                           + QStringLiteral("/config.ini incorrecte"));
}

QString valuesBox()
{
    return summary(QStringLiteral("Mirabex"),
                   QStringLiteral("Les valeurs dans le fichier ") + appDir()
                           + QStringLiteral("/values.ini sont incorrectes.<br />Vérifier leur "
                                            "présence ou leur parité."));
}

QString configNotRewritableBox()
{
    return summary(
            QStringLiteral("Mirabex"),
            QStringLiteral("L'environnement ne peut pas être enregistré dans le fichier ")
                    + appDir()
                    + QStringLiteral("/config.ini : son texte UTF-16 ou UTF-32 est abîmé, sa "
                                     "réécriture l'altérerait. Aucun fichier n'a été "
                                     "modifié."));
}

// config.ini as a user writes it, with the tree's path (or its mark) and the given line end.
QString configText(const QString &tree, const QString &lineEnd = QStringLiteral("\n"),
                   const QString &environment = QStringLiteral("prod"))
{
    return QStringLiteral("MainDir=") + tree + lineEnd + QStringLiteral("FilesFilter=") + filterText
            + lineEnd + QStringLiteral("Environnement=") + environment + lineEnd;
}

QByteArray configBytes(const QString &environment = QStringLiteral("prod"))
{
    return configText(QString::fromLatin1(treeMark), QStringLiteral("\n"), environment).toUtf8();
}

struct Pair
{
    QString prod;
    QString dev;
};

// The pairs of values.ini: ASCII values, a path, an accented value, a value outside the Basic
// Multilingual Plane (a surrogate pair in UTF-16).
const QList<Pair> &valuePairs()
{
    static const QList<Pair> pairs{
        { QStringLiteral("db-prod.exemple.fr"), QStringLiteral("db-dev.exemple.fr") },
        { QStringLiteral("/srv/prod"), QStringLiteral("/srv/dev") },
        { QStringLiteral("hôte-prod.exemple.fr"), QStringLiteral("hôte-dév.exemple.fr") },
        { QStringLiteral("😀prod"), QStringLiteral("😀dév") },
    };
    return pairs;
}

QStringList prodValues()
{
    QStringList values;
    for (const Pair &pair : valuePairs())
        values.append(pair.prod);
    return values;
}

QStringList devValues()
{
    QStringList values;
    for (const Pair &pair : valuePairs())
        values.append(pair.dev);
    return values;
}

QString valuesText(const QString &lineEnd = QStringLiteral("\n"))
{
    QString text;
    for (const Pair &pair : valuePairs())
        text += QStringLiteral("prodVal=") + pair.prod + lineEnd + QStringLiteral("devVal=")
                + pair.dev + lineEnd;
    return text;
}

QByteArray valuesBytes()
{
    return valuesText().toUtf8();
}

// The files of the tree, before a switch and after one from production to development. Only the
// first three hold values; the last one is collected but holds none.
const QMap<QString, QByteArray> &treeInProduction()
{
    static const QMap<QString, QByteArray> files{
        { QStringLiteral("app.ini"),
          asWritten("[app]\nhote=db-prod.exemple.fr\nchemin=/srv/prod/app\n") },
        { QStringLiteral("sous-dossier/web.xml"),
          asWritten("<host>db-prod.exemple.fr</host>\n<port>5432</port>\n") },
        { QStringLiteral("notes.été"),
          asWritten(QStringLiteral("serveur=hôte-prod.exemple.fr 😀prod\n").toUtf8()) },
        { QStringLiteral("lisezmoi.txt"), QStringLiteral("Rien à changer ici.\n").toUtf8() },
    };
    return files;
}

const QMap<QString, QByteArray> &treeInDevelopment()
{
    static const QMap<QString, QByteArray> files{
        { QStringLiteral("app.ini"),
          asWritten("[app]\nhote=db-dev.exemple.fr\nchemin=/srv/dev/app\n") },
        { QStringLiteral("sous-dossier/web.xml"),
          asWritten("<host>db-dev.exemple.fr</host>\n<port>5432</port>\n") },
        { QStringLiteral("notes.été"),
          asWritten(QStringLiteral("serveur=hôte-dév.exemple.fr 😀dév\n").toUtf8()) },
        { QStringLiteral("lisezmoi.txt"), QStringLiteral("Rien à changer ici.\n").toUtf8() },
    };
    return files;
}

// The text with the byte-order mark of a wider encoding before it; plain UTF-8 without a mark.
QByteArray withByteOrderMark(const QString &text, QStringConverter::Encoding encoding)
{
    QByteArray mark;
    switch (encoding) {
    case QStringConverter::Utf16LE:
        mark = QByteArray("\xFF\xFE", 2);
        break;
    case QStringConverter::Utf16BE:
        mark = QByteArray("\xFE\xFF", 2);
        break;
    case QStringConverter::Utf32LE:
        mark = QByteArray("\xFF\xFE\0\0", 4);
        break;
    case QStringConverter::Utf32BE:
        mark = QByteArray("\0\0\xFE\xFF", 4);
        break;
    default:
        return text.toUtf8();
    }
    QStringEncoder encoder(encoding);
    return mark + QByteArray(encoder.encode(text));
}

// UTF-16 LE without any byte-order mark: every ASCII character is followed by a NUL byte.
QByteArray utf16WithoutMark(const QString &text)
{
    QStringEncoder encoder(QStringConverter::Utf16LE);
    return encoder.encode(text);
}

// The start of a PNG image followed by pseudo-random bytes: NUL bytes, bytes that are not UTF-8,
// line feeds and carriage returns here and there.
QByteArray pngLikeBytes(quint32 seed, qsizetype size = 16 * 1024)
{
    QByteArray bytes("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x02\0", 20);
    QRandomGenerator random(seed);
    while (bytes.size() < size)
        bytes.append(char(random.bounded(256)));
    return bytes;
}

// About 100 MB of ordinary lines, each ending with a line feed, that match no key: comments,
// keys with a blank before them or without their "=", keys of the other file.
QByteArray hugeLines(bool forConfig)
{
    const char *const kinds[] = {
        "; ligne %1 : un commentaire ordinaire, comme en laissent les éditeurs de réglages\n",
        forConfig ? " MainDir=/nulle/part/%1 (une clé précédée d'un blanc ne compte pas)\n"
                  : " prodVal=ignorée-%1 (une clé précédée d'un blanc ne compte pas)\n",
        forConfig ? "#Environnement=recette-%1, une clé en commentaire ne compte pas\n"
                  : "#devVal=ignorée-%1, une clé en commentaire ne compte pas\n",
        forConfig ? "prodVal=%1 appartient à l'autre fichier et n'est pas lue ici\n"
                  : "MainDir=/ailleurs/%1 appartient à l'autre fichier et n'est pas lue ici\n",
    };
    QByteArray block;
    for (int line = 0; block.size() < 1024 * 1024; ++line)
        block += QString::fromUtf8(kinds[line % 4]).arg(line, 7, 10, QLatin1Char('0')).toUtf8();
    return block.repeated(hugeSize / block.size() + 1);
}

QString prodValue(int i)
{
    return QStringLiteral("srv%1.prod.exemple.fr").arg(i, 5, 10, QLatin1Char('0'));
}

QString devValue(int i)
{
    return QStringLiteral("srv%1.dév.exemple.fr").arg(i, 5, 10, QLatin1Char('0'));
}

} // namespace

class TestSettingsFaults : public WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void unusableSettingsAtStartupEndTheProgramWithABox_data();
    void unusableSettingsAtStartupEndTheProgramWithABox();
    void unusableSettingsAtSwitchChangeNoByte_data();
    void unusableSettingsAtSwitchChangeNoByte();
    void configEmptiedAfterStartupKeepsTheSettingsInForce();
    void settingsWithByteOrderMarkAreReadAndSwitched_data();
    void settingsWithByteOrderMarkAreReadAndSwitched();
    void hugeSettingsFileIsRead_data();
    void hugeSettingsFileIsRead();
    void valuesFileNotCleanTextIsRefusedBeforeAnyWrite_data();
    void valuesFileNotCleanTextIsRefusedBeforeAnyWrite();
    void tenThousandPairsSwitchAndSwitchBack_data();
    void tenThousandPairsSwitchAndSwitchBack();
    void settingsFileThatIsNotARegularFileIsRefused_data();
    void settingsFileThatIsNotARegularFileIsRefused();

private:
    QByteArray withTree(QByteArray bytes) const { return bytes.replace(treeMark, tree().toUtf8()); }
    QStringList withTree(const QStringList &texts) const;
    void writeConfig(const QByteArray &bytes);
    void writeValues(const QByteArray &bytes);
    bool showsPicture(const QImage &picture) const;
    // Each box as the program must show them: critical, the single button Ok and no default
    // button; the window's own boxes have the window as parent, the presence checks none.
    void checkBoxes(const QStringList &expected) const;
    // The tree holds the bytes it had before the test, its files their modification times.
    void checkTreeUntouched() const;
    // config.ini holds the bytes it was given, with its modification time: it was not rewritten.
    void checkConfigUntouched() const;
    void checkValuesUntouched() const;

    QImage m_prodPicture;
    QImage m_devPicture;
    QMap<QString, QByteArray> m_treeBefore;
    QMap<QString, QDateTime> m_timesBefore;
    QByteArray m_config;
    QDateTime m_configTime;
    QByteArray m_values;
};

void TestSettingsFaults::initTestCase()
{
    m_prodPicture = QPixmap(QStringLiteral(":/icons/prod.png")).toImage();
    m_devPicture = QPixmap(QStringLiteral(":/icons/developpement.png")).toImage();
    QVERIFY(!m_prodPicture.isNull());
    QVERIFY(!m_devPicture.isNull());
    QVERIFY(m_prodPicture != m_devPicture);
}

void TestSettingsFaults::init()
{
    initFixture(QStringLiteral("arbre-été"));
    const QMap<QString, QByteArray> &files = treeInProduction();
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        writeBytes(tree() + u'/' + it.key(), it.value());
        ageFile(tree() + u'/' + it.key());
    }
    m_treeBefore = snapshotTree(tree());
    QCOMPARE(m_treeBefore, files);
    m_timesBefore.clear();
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        m_timesBefore.insert(it.key(), modificationTime(tree() + u'/' + it.key()));
}

void TestSettingsFaults::cleanup()
{
    cleanupFixture(); // removes config.ini and values.ini, the huge ones too
    m_config.clear();
    m_values.clear();
}

QStringList TestSettingsFaults::withTree(const QStringList &texts) const
{
    QStringList result;
    for (QString text : texts)
        result.append(text.replace(QString::fromLatin1(treeMark), tree()));
    return result;
}

void TestSettingsFaults::writeConfig(const QByteArray &bytes)
{
    m_config = withTree(bytes);
    m_settings->writeConfig(m_config);
    ageFile(SettingsFiles::configPath());
    m_configTime = modificationTime(SettingsFiles::configPath());
}

void TestSettingsFaults::writeValues(const QByteArray &bytes)
{
    m_values = withTree(bytes);
    m_settings->writeValues(m_values);
}

bool TestSettingsFaults::showsPicture(const QImage &picture) const
{
    return child<QLabel>("labelLogo")->pixmap().toImage() == picture;
}

void TestSettingsFaults::checkBoxes(const QStringList &expected) const
{
    QCOMPARE(m_boxes->summaries(), expected);
    for (const SeenMessageBox &box : m_boxes->boxes()) {
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!box.hasDefaultButton);
        const bool windowBox = box.title == QLatin1String("Mirabex");
        QCOMPARE(box.parent.data(), windowBox ? static_cast<QWidget *>(m_window.get()) : nullptr);
        // The line break of the values.ini box is markup; every other text shows as written.
        QCOMPARE(box.textFormat,
                 box.text.contains(QLatin1String("<br />")) ? Qt::RichText : Qt::PlainText);
    }
}

void TestSettingsFaults::checkTreeUntouched() const
{
    QCOMPARE(snapshotTree(tree()), m_treeBefore);
    for (auto it = m_timesBefore.cbegin(); it != m_timesBefore.cend(); ++it)
        QCOMPARE(modificationTime(tree() + u'/' + it.key()), it.value());
}

void TestSettingsFaults::checkConfigUntouched() const
{
    QVERIFY(readBytes(SettingsFiles::configPath()) == m_config);
    QCOMPARE(modificationTime(SettingsFiles::configPath()), m_configTime);
}

void TestSettingsFaults::checkValuesUntouched() const
{
    QVERIFY(readBytes(SettingsFiles::valuesPath()) == m_values);
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::unusableSettingsAtStartupEndTheProgramWithABox_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QStringList>("boxes");

    const QString tree = QString::fromLatin1(treeMark);
    QTest::newRow("config.ini empty")
            << QByteArray() << valuesBytes() << QStringList{ mainDirBox() };
    QTest::newRow("config.ini binary")
            << pngLikeBytes(1) << valuesBytes() << QStringList{ mainDirBox() };
    QTest::newRow("config.ini in UTF-16 without byte-order mark")
            << utf16WithoutMark(configText(tree, QStringLiteral("\r\n"))) << valuesBytes()
            << QStringList{ mainDirBox() };
    // The path ends at the NUL byte for the system: no directory of that name can exist.
    QTest::newRow("config.ini with a NUL byte inside the MainDir= path")
            << QByteArray("MainDir=" + treeMark + QByteArray("\0/sous-dossier\n", 15)
                          + "Environnement=prod\n")
            << valuesBytes()
            << QStringList{ summary(QStringLiteral("Erreur"),
                                    QStringLiteral("Impossible d'ouvrir le dossier ") + tree
                                            + QChar(u'\0') + QStringLiteral("/sous-dossier")),
                            mainDirBox() };
    // Bytes that are not UTF-8 in the path: the box shows them as Latin-1 letters.
    QTest::newRow("config.ini with a Latin-1 MainDir= path")
            << QByteArray("MainDir=/srv/caf\xE9\nEnvironnement=prod\n") << valuesBytes()
            << QStringList{ summary(QStringLiteral("Erreur"),
                                    QStringLiteral("Impossible d'ouvrir le dossier /srv/café")),
                            mainDirBox() };
    // A line that never ends: the box shows the start and the end of the path, at once.
    const QByteArray endless = "/" + QByteArray(1024 * 1024, 'x') + "/fin";
    const QString shownPath = QStringLiteral("Impossible d'ouvrir le dossier ").left(800)
            + QStringLiteral("/") + QString(800 - 32, u'x') + QStringLiteral(" […] ")
            + QString(796, u'x') + QStringLiteral("/fin");
    QTest::newRow("config.ini with a MainDir= line of a megabyte")
            << QByteArray("MainDir=" + endless + "\nEnvironnement=prod\n") << valuesBytes()
            << QStringList{ summary(QStringLiteral("Erreur"), shownPath), mainDirBox() };
    QTest::newRow("values.ini empty")
            << configBytes() << QByteArray() << QStringList{ valuesBox() };
    QTest::newRow("values.ini binary")
            << configBytes() << pngLikeBytes(2) << QStringList{ valuesBox() };
    QTest::newRow("values.ini in UTF-16 without byte-order mark")
            << configBytes() << utf16WithoutMark(valuesText(QStringLiteral("\r\n")))
            << QStringList{ valuesBox() };
}

void TestSettingsFaults::unusableSettingsAtStartupEndTheProgramWithABox()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, values);
    QFETCH(QStringList, boxes);

    writeConfig(config);
    writeValues(values);
    startWindow();

    checkBoxes(withTree(boxes));
    QVERIFY(m_window->startupFailed());
    QVERIFY(!m_window->isVisible());
    QVERIFY(child<QLabel>("labelLogo")->pixmap().isNull());
    const bool configUsable = boxes.constLast() == valuesBox();
    if (configUsable) {
        // config.ini was taken before values.ini was refused.
        QCOMPARE(m_window->mainDirectory(), tree());
        QCOMPARE(filterField()->text(), filterText);
        QCOMPARE(m_window->statusBar()->currentMessage(),
                 QStringLiteral("Dossier de recherche : ") + tree());
        QVERIFY(m_window->productionValues().isEmpty());
        QVERIFY(m_window->developmentValues().isEmpty());
    } else {
        QVERIFY(filterField()->text().isEmpty());
        QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    }
    QVERIFY(m_window->collectedFiles().isEmpty());
    checkConfigUntouched();
    checkValuesUntouched();
    checkTreeUntouched();
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::unusableSettingsAtSwitchChangeNoByte_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QString>("box"); // none: the file is used, the tree switched
    QTest::addColumn<QByteArray>("configAfterTwoRuns");

    // config.ini is switched whatever its other lines hold: its bytes come back, but for the
    // line ends (those of the platform) and the environment line, added when there is none.
    const auto lineFeeds = [](QByteArray bytes) {
        bytes.replace("\r\n", "\n");
        return bytes.isEmpty() || bytes.endsWith('\n') ? bytes : bytes + '\n';
    };
    const QByteArray added = "Environnement=prod\n";
    const QString tree = QString::fromLatin1(treeMark);
    QTest::newRow("config.ini binary")
            << pngLikeBytes(3) << valuesBytes() << QString() << lineFeeds(pngLikeBytes(3)) + added;
    const QByteArray aroundGoodLines = pngLikeBytes(4) + '\n' + configBytes() + pngLikeBytes(5);
    QTest::newRow("config.ini binary around good lines")
            << aroundGoodLines << valuesBytes() << QString() << lineFeeds(aroundGoodLines);
    const QByteArray withoutMark = utf16WithoutMark(configText(tree, QStringLiteral("\r\n")));
    QTest::newRow("config.ini in UTF-16 without byte-order mark")
            << withoutMark << valuesBytes() << QString() << lineFeeds(withoutMark) + added;
    // Its MainDir= is not read again while the directory taken at start-up stays in force.
    const QString withNul =
            configText(QStringLiteral("/ailleurs")) + QChar(u'\0') + QStringLiteral("\n");
    QTest::newRow("config.ini in UTF-16 holding a NUL character")
            << withByteOrderMark(withNul, QStringConverter::Utf16LE) << valuesBytes() << QString()
            << withNul.toUtf8();
    QTest::newRow("config.ini in UTF-16 cut short in the middle of a character")
            << QByteArray(withByteOrderMark(configText(tree), QStringConverter::Utf16LE) + 'x')
            << valuesBytes() << configNotRewritableBox() << QByteArray();
    // What a system that stopped while the file was being saved leaves behind.
    const QByteArray padded = configBytes() + QByteArray(4096, '\0');
    QTest::newRow("config.ini with NUL padding after the last line")
            << padded << valuesBytes() << QString() << lineFeeds(padded);
    const QByteArray nulInFilter = "MainDir=" + treeMark + "\nFilesFilter=*.ini"
            + QByteArray(1, '\0') + "\nEnvironnement=prod\n";
    QTest::newRow("config.ini with a NUL byte at the end of the filter")
            << nulInFilter << valuesBytes() << QString() << nulInFilter;
    const QByteArray nulInEnvironment =
            "MainDir=" + treeMark + "\nEnvironnement=prod" + QByteArray(1, '\0') + "\n";
    QTest::newRow("config.ini with a NUL byte at the end of the environment")
            << nulInEnvironment << valuesBytes() << QString() << nulInEnvironment;
    QTest::newRow("values.ini empty")
            << configBytes() << QByteArray() << valuesBox() << QByteArray();
    QTest::newRow("values.ini binary")
            << configBytes() << pngLikeBytes(6) << valuesBox() << QByteArray();
    QTest::newRow("values.ini in UTF-16 without byte-order mark")
            << configBytes() << utf16WithoutMark(valuesText(QStringLiteral("\r\n"))) << valuesBox()
            << QByteArray();
}

void TestSettingsFaults::unusableSettingsAtSwitchChangeNoByte()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, values);
    QFETCH(QString, box);
    QFETCH(QByteArray, configAfterTwoRuns);

    // A good start, then one of the files spoilt while the window is open.
    writeConfig(configBytes());
    writeValues(valuesBytes());
    makeWindow();
    QVERIFY(m_boxes->boxes().isEmpty());
    QVERIFY(showsPicture(m_prodPicture));
    writeConfig(config);
    writeValues(values);

    click();

    if (box.isEmpty()) {
        QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
        QCOMPARE(snapshotTree(tree()), treeInDevelopment());
        click();
        QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
        QCOMPARE(snapshotTree(tree()), m_treeBefore);
        QCOMPARE(readBytes(SettingsFiles::configPath()), asWritten(withTree(configAfterTwoRuns)));
        return;
    }
    checkBoxes({ box });
    checkTreeUntouched();
    checkConfigUntouched();
    checkValuesUntouched();
    QVERIFY(journalLines().isEmpty());
    QVERIFY(m_window->isProdActive());
    QVERIFY(showsPicture(m_prodPicture));
    QVERIFY(child<QProgressBar>("progressBar")->isHidden());
    QVERIFY(switchButton()->isEnabled());
    // The directory and the filter in force stay those of the start.
    QCOMPARE(m_window->mainDirectory(), tree());
    QCOMPARE(filterField()->text(), filterText);
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Dossier de recherche : ") + tree());
    if (box == valuesBox()) {
        QVERIFY(m_window->collectedFiles().isEmpty());
        QVERIFY(m_window->productionValues().isEmpty());
        QVERIFY(m_window->developmentValues().isEmpty());
    } else {
        QCOMPARE(m_window->productionValues(), prodValues());
        QCOMPARE(m_window->developmentValues(), devValues());
    }

    // Once the file is put right, the next click switches the tree.
    m_boxes->clear();
    writeConfig(configBytes());
    writeValues(valuesBytes());
    click();
    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(snapshotTree(tree()), treeInDevelopment());
    QCOMPARE(readBytes(SettingsFiles::configPath()),
             asWritten(withTree(configBytes(QStringLiteral("dev")))));
    QVERIFY(!m_window->isProdActive());
    QVERIFY(showsPicture(m_devPicture));
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::configEmptiedAfterStartupKeepsTheSettingsInForce()
{
    writeConfig(configBytes());
    writeValues(valuesBytes());
    makeWindow();

    // An empty config.ini says nothing: the directory in force (taken from MainDir= while none
    // was set), the filter field and the environment shown stay as they are, and the tree is
    // switched. There is no Environnement= line to rewrite: the run writes one.
    writeConfig(QByteArray());
    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(snapshotTree(tree()), treeInDevelopment());
    QCOMPARE(readBytes(SettingsFiles::configPath()), asWritten("Environnement=dev\n"));
    QVERIFY(!m_window->isProdActive());
    QVERIFY(showsPicture(m_devPicture));
    QCOMPARE(m_window->mainDirectory(), tree());
    QCOMPARE(filterField()->text(), filterText);
    QCOMPARE(journalLines().mid(1, 2),
             (QStringList{ QStringLiteral("Avant : "),
                           QStringLiteral("Après : Environnement=dev") }));

    click();

    QVERIFY(m_boxes->boxes().isEmpty());
    QCOMPARE(snapshotTree(tree()), m_treeBefore);
    QCOMPARE(readBytes(SettingsFiles::configPath()), asWritten("Environnement=prod\n"));
    QVERIFY(m_window->isProdActive());
    QVERIFY(showsPicture(m_prodPicture));
    checkValuesUntouched();
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::settingsWithByteOrderMarkAreReadAndSwitched_data()
{
    QTest::addColumn<int>("configEncoding");
    QTest::addColumn<int>("valuesEncoding");

    const int utf8 = QStringConverter::Utf8;
    const int utf16LE = QStringConverter::Utf16LE;
    const int utf16BE = QStringConverter::Utf16BE;
    QTest::newRow("config.ini in UTF-16 LE") << utf16LE << utf8;
    QTest::newRow("config.ini in UTF-16 BE") << utf16BE << utf8;
    QTest::newRow("values.ini in UTF-16 LE") << utf8 << utf16LE;
    QTest::newRow("values.ini in UTF-16 BE") << utf8 << utf16BE;
    QTest::newRow("both in UTF-16 LE") << utf16LE << utf16LE;
    QTest::newRow("both in UTF-16 BE") << utf16BE << utf16BE;
    QTest::newRow("both in UTF-32 LE")
            << int(QStringConverter::Utf32LE) << int(QStringConverter::Utf32LE);
    QTest::newRow("both in UTF-32 BE")
            << int(QStringConverter::Utf32BE) << int(QStringConverter::Utf32BE);
}

void TestSettingsFaults::settingsWithByteOrderMarkAreReadAndSwitched()
{
    QFETCH(int, configEncoding);
    QFETCH(int, valuesEncoding);

    // Written as a Windows editor saves them, with CR LF line ends. The tree's path and the last
    // pattern of the filter are not ASCII, nor are two of the values.
    const QString crlf = QStringLiteral("\r\n");
    writeConfig(withByteOrderMark(configText(tree(), crlf),
                                  QStringConverter::Encoding(configEncoding)));
    writeValues(withByteOrderMark(valuesText(crlf), QStringConverter::Encoding(valuesEncoding)));
    if (configEncoding == QStringConverter::Utf16LE)
        QVERIFY(m_config.startsWith(QByteArray("\xFF\xFEM\0a\0i\0n\0", 10)));
    if (configEncoding == QStringConverter::Utf16BE)
        QVERIFY(m_config.startsWith(QByteArray("\xFE\xFF\0M\0a\0i\0n", 10)));

    startWindow();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QVERIFY(!m_window->startupFailed());
    QCOMPARE(m_window->mainDirectory(), tree());
    QCOMPARE(m_window->filesFilterText(), filterText);
    QCOMPARE(filterField()->text(), filterText);
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("Dossier de recherche : ") + tree());
    QVERIFY(m_window->isProdActive());
    QVERIFY(showsPicture(m_prodPicture));
    QVERIFY(subdirsBox()->isChecked());
    QVERIFY(m_window->recursesSubdirs());
    QCOMPARE(m_window->productionValues(), prodValues());
    QCOMPARE(m_window->developmentValues(), devValues());

    click();

    // The files, the one under *.été and the one in the sub-directory included, are switched.
    // config.ini gets its new environment line and, as every rewritten file, is UTF-8 without
    // byte-order mark, each line ending with the platform's terminator.
    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(snapshotTree(tree()), treeInDevelopment());
    QCOMPARE(readBytes(SettingsFiles::configPath()),
             asWritten(configText(tree(), QStringLiteral("\n"), QStringLiteral("dev")).toUtf8()));
    checkValuesUntouched();
    QVERIFY(!m_window->isProdActive());
    QVERIFY(showsPicture(m_devPicture));
    const QStringList journal = journalLines();
    QVERIFY(journal.size() >= 3);
    QCOMPARE(journal.mid(0, 3),
             (QStringList{ QStringLiteral("Fichier modifié : ")
                                   + QString(SettingsFiles::configPath()).replace(u'/', u'\\'),
                           QStringLiteral("Avant : Environnement=prod"),
                           QStringLiteral("Après : Environnement=dev") }));

    click();

    QVERIFY(m_boxes->boxes().isEmpty());
    QCOMPARE(snapshotTree(tree()), m_treeBefore);
    QCOMPARE(readBytes(SettingsFiles::configPath()), asWritten(configText(tree()).toUtf8()));
    QVERIFY(m_window->isProdActive());
    QVERIFY(showsPicture(m_prodPicture));
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::hugeSettingsFileIsRead_data()
{
    QTest::addColumn<bool>("hugeConfig");
    QTest::addColumn<bool>("oneLine");

    QTest::newRow("config.ini: 100 MB of lines without a key, then the keys") << true << false;
    QTest::newRow("config.ini: 100 MB on a single line, the keys inside it") << true << true;
    QTest::newRow("values.ini: 100 MB of lines without a key, then the pairs") << false << false;
}

void TestSettingsFaults::hugeSettingsFileIsRead()
{
    QFETCH(bool, hugeConfig);
    QFETCH(bool, oneLine);

    QByteArray huge = hugeLines(hugeConfig);
    QVERIFY(huge.size() >= hugeSize);
    huge += hugeConfig ? configBytes() : valuesBytes();
    if (oneLine)
        huge.replace('\n', ' ');
    writeConfig(hugeConfig ? huge : configBytes());
    writeValues(hugeConfig ? valuesBytes() : huge);
    huge.clear();

    startWindow();

    if (oneLine) {
        // The keys stand inside the one line, not at its start: none is taken.
        checkBoxes({ hugeConfig ? mainDirBox() : valuesBox() });
        QVERIFY(m_window->startupFailed());
        QCOMPARE(m_window->mainDirectory(), hugeConfig ? QString() : tree());
        QVERIFY(m_window->productionValues().isEmpty());
        QVERIFY(m_window->developmentValues().isEmpty());
        checkConfigUntouched();
        checkValuesUntouched();
        checkTreeUntouched();
        return;
    }

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QVERIFY(!m_window->startupFailed());
    QCOMPARE(m_window->mainDirectory(), tree());
    QCOMPARE(filterField()->text(), filterText);
    QVERIFY(m_window->isProdActive());
    QVERIFY(showsPicture(m_prodPicture));
    QCOMPARE(m_window->productionValues(), prodValues());
    QCOMPARE(m_window->developmentValues(), devValues());
    if (!hugeConfig) {
        // values.ini is only read; a switch would read it once more in the same way.
        checkValuesUntouched();
        return;
    }

    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(snapshotTree(tree()), treeInDevelopment());
    QVERIFY(!m_window->isProdActive());
    QVERIFY(showsPicture(m_devPicture));
    // Only the environment line changes; the 100 MB before it are written back as they were.
    QByteArray expected = m_config;
    QVERIFY(expected.endsWith("\nEnvironnement=prod\n"));
    expected.chop(QByteArrayView("Environnement=prod\n").size());
    expected = asWritten(expected + "Environnement=dev\n");
    const QByteArray config = readBytes(SettingsFiles::configPath());
    QCOMPARE(config.size(), expected.size());
    QVERIFY(config == expected);
    checkValuesUntouched();
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::valuesFileNotCleanTextIsRefusedBeforeAnyWrite_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<int>("badLine"); // 0: only lines that give no value hold such bytes

    const QByteArray good = valuesBytes();
    QTest::newRow("NUL padding after the last pair: used")
            << QByteArray(good + QByteArray(4096, '\0')) << 0;
    QTest::newRow("binary bytes around the pairs: used")
            << QByteArray(pngLikeBytes(7) + '\n' + good + pngLikeBytes(8)) << 0;
    QTest::newRow("Windows-1252 letters in a comment: used")
            << QByteArray("; valeurs de l'\xE9quipe\n" + good) << 0;

    QByteArray bytes = good;
    bytes.replace("prodVal=db-prod.exemple.fr\n",
                  QByteArray("prodVal=db-prod.exemple.fr") + '\0' + '\n');
    QTest::newRow("NUL inside a production value") << bytes << 1;

    bytes = good;
    bytes.replace("devVal=db-dev.exemple.fr\n",
                  QByteArray("devVal=db-dev.exemple.fr") + '\0' + '\n');
    QTest::newRow("NUL inside a development value") << bytes << 2;

    // A values.ini saved in Windows-1252 by a text editor: its accented letters are no UTF-8.
    bytes = good;
    bytes.replace(QStringLiteral("devVal=hôte-dév.exemple.fr").toUtf8(),
                  QByteArray("devVal=h\xF4te-d\xE9v.exemple.fr"));
    QTest::newRow("Windows-1252 letters in a development value") << bytes << 6;

    // Broken UTF-16 and UTF-32 that Qt's decoders take without an error: half a surrogate pair
    // (written back as "?"), a code point past U+10FFFF (read as another character).
    bytes = withByteOrderMark(valuesText(), QStringConverter::Utf16LE);
    QStringEncoder toUtf16(QStringConverter::Utf16LE);
    const QByteArray devValue = toUtf16.encode(QStringLiteral("db-dev"));
    bytes.replace(devValue, devValue + QByteArray("\x00\xD8", 2));
    QTest::newRow("UTF-16 value holding half a surrogate pair") << bytes << 2;
    bytes = withByteOrderMark(valuesText(), QStringConverter::Utf32BE);
    QStringEncoder toUtf32(QStringConverter::Utf32BE);
    const QByteArray devValue32 = toUtf32.encode(QStringLiteral("db-dev"));
    bytes.replace(devValue32, devValue32 + QByteArray("\x00\x11\x00\x00", 4));
    QTest::newRow("UTF-32 value holding a code point past U+10FFFF") << bytes << 2;
}

void TestSettingsFaults::valuesFileNotCleanTextIsRefusedBeforeAnyWrite()
{
    QFETCH(QByteArray, values);
    QFETCH(int, badLine);

    writeConfig(configBytes());
    writeValues(values);
    startWindow();
    if (badLine == 0) {
        QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
        click();
        QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
        QCOMPARE(snapshotTree(tree()), treeInDevelopment());
        checkValuesUntouched();
        return;
    }

    // Values that would write NUL characters, or characters the user never wrote, into the tree
    // are refused at once.
    checkBoxes({ QStringLiteral("Mirabex | Les valeurs dans le fichier ")
                 + QCoreApplication::applicationDirPath()
                 + QStringLiteral("/values.ini ne peuvent pas être utilisées : la ligne %1 "
                                  "contient des octets nuls ou des caractères mal encodés. Aucun "
                                  "fichier n'a été modifié.")
                           .arg(badLine) });
    QVERIFY(m_window->startupFailed());
    checkTreeUntouched();
    checkConfigUntouched();
    checkValuesUntouched();

    // The same at a switch, once the program runs: nothing is written, config.ini included.
    writeValues(valuesBytes());
    m_boxes->clear();
    makeWindow();
    writeValues(values);
    click();
    QCOMPARE(m_boxes->boxes().size(), 1);
    checkTreeUntouched();
    checkConfigUntouched();
    QVERIFY(m_window->isProdActive());
    QVERIFY(journalLines().isEmpty());
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::tenThousandPairsSwitchAndSwitchBack_data()
{
    QTest::addColumn<bool>("caseSensitive");

    QTest::newRow("case ignored") << false;
    QTest::newRow("case sensitive") << true;
}

void TestSettingsFaults::tenThousandPairsSwitchAndSwitchBack()
{
    QFETCH(bool, caseSensitive);

    constexpr int pairCount = 10000;
    QStringList prod;
    QStringList dev;
    QString text;
    for (int i = 0; i < pairCount; ++i) {
        prod.append(prodValue(i));
        dev.append(devValue(i));
        text += QStringLiteral("prodVal=") + prod.constLast() + QStringLiteral("\ndevVal=")
                + dev.constLast() + u'\n';
    }

    // Values from the start, the middle and the end of the list, several on one line, and a file
    // with a near miss (a number of the wrong width) that must stay as it is.
    const QString sub = tree() + QStringLiteral("/dix-mille");
    auto content = [](const QStringList &values) {
        return asWritten(
                QStringLiteral("a=%1\nb=%2\n<h>%3</h><h>%4</h>\nautre=rien\nliste=%5;%6;%7\n")
                        .arg(values.at(0), values.at(1), values.at(4999), values.at(5000),
                             values.at(9999), values.at(0), values.at(7777))
                        .toUtf8());
    };
    writeBytes(sub + QStringLiteral("/premier.ini"), content(prod));
    writeBytes(sub + QStringLiteral("/milieu/dernier.cfg"),
               asWritten(("x=" + prod.at(9999) + "\n").toUtf8()));
    writeBytes(sub + QStringLiteral("/aucun.txt"), "srv1.prod.exemple.fr (pas une valeur)\n");
    ageFile(sub + QStringLiteral("/aucun.txt"));
    const QDateTime untouchedTime = modificationTime(sub + QStringLiteral("/aucun.txt"));
    m_treeBefore = snapshotTree(tree());

    writeConfig("MainDir=" + sub.toUtf8() + "\nEnvironnement=prod\n");
    writeValues(text.toUtf8());
    startWindow();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QVERIFY(!m_window->startupFailed());
    QCOMPARE(m_window->productionValues(), prod);
    QCOMPARE(m_window->developmentValues(), dev);
    QCOMPARE(filterField()->text(), QStringLiteral("*;*.*;.*;*."));
    caseBox()->setChecked(caseSensitive);

    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(readBytes(sub + QStringLiteral("/premier.ini")), content(dev));
    QCOMPARE(readBytes(sub + QStringLiteral("/milieu/dernier.cfg")),
             asWritten(("x=" + dev.at(9999) + "\n").toUtf8()));
    QCOMPARE(readBytes(sub + QStringLiteral("/aucun.txt")),
             QByteArray("srv1.prod.exemple.fr (pas une valeur)\n"));
    QCOMPARE(modificationTime(sub + QStringLiteral("/aucun.txt")), untouchedTime);
    QCOMPARE(readBytes(SettingsFiles::configPath()),
             asWritten("MainDir=" + sub.toUtf8() + "\nEnvironnement=dev\n"));
    // The files of the tree outside MainDir= are not collected.
    for (auto it = treeInProduction().cbegin(); it != treeInProduction().cend(); ++it)
        QCOMPARE(readBytes(tree() + u'/' + it.key()), it.value());
    // One record per value replaced: config.ini, then 1 + 1 + 2 + 3 in premier.ini (its lines
    // in order, the values of a line in the order of values.ini), then 1 in dernier.cfg.
    const QStringList journal = journalLines();
    QCOMPARE(journal.count(QStringLiteral("Avant : Environnement=prod")), 1);
    qsizetype before = 0;
    for (const QString &line : journal)
        before += line.startsWith(QLatin1String("Avant : ")) ? 1 : 0;
    QCOMPARE(before, qsizetype(1 + 7 + 1));
    QVERIFY(journal.contains(
            QStringLiteral("Après : <h>%1</h><h>%2</h>").arg(dev.at(4999), prod.at(5000))));
    QVERIFY(!m_window->isProdActive());
    QVERIFY(showsPicture(m_devPicture));

    click();

    QVERIFY(m_boxes->boxes().isEmpty());
    QCOMPARE(snapshotTree(tree()), m_treeBefore);
    QCOMPARE(readBytes(SettingsFiles::configPath()), asWritten(m_config));
    QVERIFY(m_window->isProdActive());
    QVERIFY(showsPicture(m_prodPicture));
    checkValuesUntouched();
}

// ---------------------------------------------------------------------------------------------

void TestSettingsFaults::settingsFileThatIsNotARegularFileIsRefused_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    QTest::newRow("config.ini is a FIFO") << QStringLiteral("config.ini") << QStringLiteral("fifo");
    QTest::newRow("values.ini is a FIFO") << QStringLiteral("values.ini") << QStringLiteral("fifo");
    QTest::newRow("config.ini links to /dev/zero")
            << QStringLiteral("config.ini") << QStringLiteral("zero");
    QTest::newRow("values.ini is a folder")
            << QStringLiteral("values.ini") << QStringLiteral("dir");
}

void TestSettingsFaults::settingsFileThatIsNotARegularFileIsRefused()
{
    QFETCH(QString, file);
    QFETCH(QString, kind);
    writeConfig(configBytes());
    writeValues(valuesBytes());
    const QString path = QCoreApplication::applicationDirPath() + u'/' + file;
    QVERIFY(QFile::remove(path));
    if (kind == u"fifo" && !fifosExist())
        QSKIP("This system has no FIFOs.");
    if (kind == u"fifo")
        QVERIFY(makeFifo(path));
    if (kind == u"zero" && !QFile::exists(QStringLiteral("/dev/zero")))
        QSKIP("This system has no /dev/zero.");
    if (kind == u"zero")
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    else if (kind == u"dir")
        QVERIFY(QDir().mkdir(path));

    // Reading a FIFO would wait for a writer for ever, /dev/zero would never end.
    startWindow();
    const bool isDir = kind == u"dir";
    checkBoxes({ summary(QStringLiteral("Mirabex"),
                         QStringLiteral("impossible d'ouvrir le fichier ") + path) });
    QVERIFY(m_window->startupFailed());
    m_window.reset();
    if (isDir)
        QVERIFY(QDir().rmdir(path));
    else
        QVERIFY(QFile::remove(path));
    checkTreeUntouched();
}

QTEST_MAIN(TestSettingsFaults)
#include "tst_settingsfaults.moc"
