// "Échanger les valeurs" from end to end: clicks on the real button of the real window, over real
// trees and real settings files, checked on file bytes, the journal and what the window shows.

#include "windowfixture.h"

#include "switching/switchrun.h"
#include "text/textformat.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QString configHeader()
{
    return QStringLiteral("Fichier modifié : ") + displayed(SettingsFiles::configPath());
}

// What a run tells, in its order, each event a line: the run's stages without a window.
class RecordingObserver : public SwitchObserver
{
public:
    QStringList events;

    void lineRecorded(const QString &path, const LineRecord &record) override
    {
        events << QStringLiteral("line ") + QFileInfo(path).fileName() + u' ' + record.after;
    }
    void pairLeftAside(const QString &prodValue, const QString &) override
    {
        events << QStringLiteral("aside ") + prodValue;
    }
    void folderNotRead(const QString &directory) override
    {
        events << QStringLiteral("folder ") + QFileInfo(directory).fileName();
    }
    void filesStarting(qsizetype count) override
    {
        events << QStringLiteral("files ") + QString::number(count);
    }
    void progress(qsizetype) override { }
    bool caseSensitive() const override { return true; }
    void fileNotRead(const QString &path, bool) override
    {
        events << QStringLiteral("unread ") + QFileInfo(path).fileName();
    }
    void fileLeftBehind(const QString &path, const FileSwitch &) override
    {
        events << QStringLiteral("behind ") + QFileInfo(path).fileName();
    }
};

} // namespace

class tst_SwitchRun : public WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void switchAndSwitchBack();
    void stagesInOrder();
    void environmentLine_data();
    void environmentLine();
    void progressBarSteps_data();
    void progressBarSteps();
    void clickDuringRunStartsNoSecondRun();
    void clickAsWindowStartsIsKept();
    void journalClearedDuringRunGoesOnFromEmpty();
    void failedReloadChangesNothing();
    void configInWindows1252IsSwitched();
    void fileVanishedDuringRun();
    void filesThatWouldNotSurviveAreLeftIntactAndSaid();
    void linkCycleInTree();
    void roundTripRestoresTree_data();
    void roundTripRestoresTree();

private:
    // count files f00.ini... holding "x=prod-host", their settings, and the window.
    void makeTreeOfFiles(int count);
};

void tst_SwitchRun::init()
{
    initFixture();
}

void tst_SwitchRun::cleanup()
{
    cleanupFixture();
}

void tst_SwitchRun::makeTreeOfFiles(int count)
{
    for (int i = 0; i < count; ++i)
        writeBytes(tree() + QStringLiteral("/f%1.ini").arg(i, 2, 10, QLatin1Char('0')),
                   "x=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
}

void tst_SwitchRun::switchAndSwitchBack()
{
    writeBytes(tree() + QStringLiteral("/app.ini"),
               asWritten("[app]\nhote=db-prod.exemple.fr\nchemin=/srv/prod/app\n"));
    writeBytes(tree() + QStringLiteral("/conf/web.xml"),
               asWritten("<host>db-prod.exemple.fr</host>\n  <port>5432</port>  \n"));
    writeBytes(tree() + QStringLiteral("/conf/readme.txt"), "Rien à changer ici.\n");
    writeBytes(tree() + QStringLiteral("/Batch/job.properties"), asWritten("out=/srv/prod/out\n"));
    ageFile(tree() + QStringLiteral("/conf/readme.txt"));
    const QDateTime untouchedTime = modificationTime(tree() + QStringLiteral("/conf/readme.txt"));
    const QMap<QString, QByteArray> before = snapshotTree(tree());

    m_settings->writeConfig(tree(), QStringLiteral("*.ini;*.xml;*.properties;*.txt"),
                            QStringLiteral("prod"));
    m_settings->writeValues(
            { { QStringLiteral("db-prod.exemple.fr"), QStringLiteral("db-dev.exemple.fr") },
              { QStringLiteral("/srv/prod"), QStringLiteral("/srv/dev") } });
    makeWindow();
    const QImage prodPicture = QPixmap(QStringLiteral(":/icons/prod.png")).toImage();
    const QImage devPicture = QPixmap(QStringLiteral(":/icons/developpement.png")).toImage();
    QCOMPARE(child<QLabel>("labelLogo")->pixmap().toImage(), prodPicture);

    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    // Sub-directories first (Batch before conf, ignoring case), the top directory's files last.
    const QString header = QStringLiteral("Fichier modifié : ");
    QCOMPARE(journalLines(),
             (QStringList{
                     configHeader(), "Avant : Environnement=prod", "Après : Environnement=dev",
                     header + displayed(tree() + "/Batch/job.properties"),
                     "Avant : out=/srv/prod/out", "Après : out=/srv/dev/out",
                     header + displayed(tree() + "/conf/web.xml"),
                     "Avant : <host>db-prod.exemple.fr</host>",
                     "Après : <host>db-dev.exemple.fr</host>",
                     header + displayed(tree() + "/app.ini"), "Avant : hote=db-prod.exemple.fr",
                     "Après : hote=db-dev.exemple.fr", header + displayed(tree() + "/app.ini"),
                     "Avant : chemin=/srv/prod/app", "Après : chemin=/srv/dev/app" }));
    QCOMPARE(readBytes(tree() + QStringLiteral("/conf/web.xml")),
             asWritten("<host>db-dev.exemple.fr</host>\n  <port>5432</port>  \n"));
    QVERIFY(readBytes(SettingsFiles::configPath()).endsWith(asWritten("\nEnvironnement=dev\n")));
    // A file without any value is neither read into the journal nor rewritten.
    QCOMPARE(readBytes(tree() + QStringLiteral("/conf/readme.txt")),
             before.value(QStringLiteral("conf/readme.txt")));
    QCOMPARE(modificationTime(tree() + QStringLiteral("/conf/readme.txt")), untouchedTime);
    QVERIFY(!m_window->isProdActive());
    QCOMPARE(child<QLabel>("labelLogo")->pixmap().toImage(), devPicture);
    QVERIFY(child<QProgressBar>("progressBar")->isHidden());
    QVERIFY(switchButton()->isEnabled());
    QCOMPARE(m_window->collectedFiles().size(), 4);

    click();

    QCOMPARE(snapshotTree(tree()), before);
    QVERIFY(readBytes(SettingsFiles::configPath()).endsWith(asWritten("\nEnvironnement=prod\n")));
    QVERIFY(m_window->isProdActive());
    QCOMPARE(child<QLabel>("labelLogo")->pixmap().toImage(), prodPicture);
    QCOMPARE(m_window->collectedFiles().size(), 4);
    QVERIFY(m_boxes->boxes().isEmpty());
}

// The stages of a run, with no window: config.ini's records first, then the pairs left aside,
// then the files in the order of the walk; the bytes on disk once it is over.
void tst_SwitchRun::stagesInOrder()
{
    writeBytes(tree() + QStringLiteral("/a/1.ini"), "x=prod-host\n");
    writeBytes(tree() + QStringLiteral("/a/2.ini"), "y=other\n");
    writeBytes(tree() + QStringLiteral("/b/3.ini"), "z=prod-host\n");
    writeBytes(tree() + QStringLiteral("/b/4.ini"), "v=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    SwitchRequest request;
    request.mainDir = tree();
    request.filterText = QStringLiteral("*.ini");
    request.pairs.prodValues = QStringList{ QStringLiteral("prod-host"), QStringLiteral("gone") };
    request.pairs.devValues = QStringList{ QStringLiteral("dev-host"), QString() };
    request.configPath = SettingsFiles::configPath();
    request.valuesPath = SettingsFiles::valuesPath();
    request.installation = installationHash(QCoreApplication::applicationDirPath());
    RecordingObserver observer;
    const SwitchRun run = switchTree(request, observer);

    QVERIFY(run.recorded());
    QCOMPARE(run.files.size(), 4);
    QCOMPARE(observer.events,
             QStringList({ QStringLiteral("line config.ini Environnement=dev"),
                           QStringLiteral("aside gone"), QStringLiteral("files 4"),
                           QStringLiteral("line 1.ini x=dev-host"),
                           QStringLiteral("line 3.ini z=dev-host"),
                           QStringLiteral("line 4.ini v=dev-host") }));
    // A line changed ends with the platform's terminator.
    QCOMPARE(readBytes(tree() + QStringLiteral("/a/1.ini")), "x=dev-host" + nativeLineTerminator());
    QCOMPARE(readBytes(tree() + QStringLiteral("/a/2.ini")), QByteArray("y=other\n"));
    QCOMPARE(readBytes(tree() + QStringLiteral("/b/3.ini")), "z=dev-host" + nativeLineTerminator());
    QVERIFY(readBytes(SettingsFiles::configPath()).contains("Environnement=dev"));
}

void tst_SwitchRun::environmentLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QString>("afterFirst");
    QTest::addColumn<QString>("afterSecond");

    QTest::newRow("prod") << "Environnement=prod" << false << "Environnement=dev"
                          << "Environnement=prod";
    QTest::newRow("production becomes devuction and back")
            << "Environnement=production" << false << "Environnement=devuction"
            << "Environnement=production";
    QTest::newRow("lower-case key, case ignored")
            << "environnement=prod" << false << "Environnement=dev"
            << "Environnement=prod";
    // The rewrite leaves these lines as they are: the run writes the environment itself, or
    // the next run would switch the tree the same way once more.
    QTest::newRow("lower-case key, case sensitive")
            << "environnement=prod" << true << "environnement=dev"
            << "environnement=prod";
    QTest::newRow("a blank and a comment around the value")
            << "Environnement= prod # serveur" << true << "Environnement= dev # serveur"
            << "Environnement= prod # serveur";
    QTest::newRow("no Environnement= line: one is added") << "" << false << "Environnement=dev"
                                                          << "Environnement=prod";
}

void tst_SwitchRun::environmentLine()
{
    QFETCH(QString, line);
    QFETCH(bool, caseSensitive);
    QFETCH(QString, afterFirst);
    QFETCH(QString, afterSecond);

    m_settings->writeConfig(
            (QStringLiteral("MainDir=") + tree() + QStringLiteral("\nFilesFilter=*.ini\r\n") + line)
                    .toUtf8());
    m_settings->writeValues({ { QStringLiteral("a"), QStringLiteral("b") } });
    makeWindow();
    caseBox()->setChecked(caseSensitive);

    click();
    const QString expected = QStringLiteral("MainDir=%1\nFilesFilter=*.ini\n%2\n");
    QCOMPARE(readBytes(SettingsFiles::configPath()),
             asWritten(expected.arg(tree(), afterFirst).toUtf8()));
    QCOMPARE(journalLines(),
             (QStringList{ configHeader(), "Avant : " + line.trimmed(), "Après : " + afterFirst }));
    QVERIFY(!m_window->isProdActive());

    click();
    QCOMPARE(readBytes(SettingsFiles::configPath()),
             asWritten(expected.arg(tree(), afterSecond).toUtf8()));
    QVERIFY(m_window->isProdActive());
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_SwitchRun::progressBarSteps_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QList<int>>("values");

    QTest::newRow("no file") << 0 << QList<int>();
    QTest::newRow("nine files") << 9 << QList<int>();
    QTest::newRow("25 files") << 25 << QList<int>{ 10, 20 };
}

void tst_SwitchRun::progressBarSteps()
{
    QFETCH(int, files);
    QFETCH(QList<int>, values);

    for (int i = 0; i < files; ++i)
        writeBytes(tree() + QStringLiteral("/f%1.ini").arg(i, 2, 10, QLatin1Char('0')),
                   "x=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();

    auto *bar = child<QProgressBar>("progressBar");
    QSignalSpy spy(bar, &QProgressBar::valueChanged);
    // What the bar shows when events are let through: it is visible, with the run's range.
    QList<int> maximumsWhileVisible;
    QTimer probe;
    probe.setInterval(0);
    connect(&probe, &QTimer::timeout, [&] {
        if (bar->isVisible())
            maximumsWhileVisible.append(bar->maximum());
    });
    // What it is painted with: the last step at least, however soon after the one before.
    struct Paints : QObject
    {
        QList<int> values;
        bool eventFilter(QObject *bar, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                values.append(static_cast<QProgressBar *>(bar)->value());
            return false;
        }
    } paints;
    bar->installEventFilter(&paints);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    probe.start();
    click();
    probe.stop();
    if (!values.isEmpty())
        QCOMPARE(paints.values.last(), values.last());
    QVERIFY(bar->updatesEnabled());

    QList<int> seen;
    for (const QList<QVariant> &signal : std::as_const(spy))
        seen.append(signal.at(0).toInt());
    // The range is set first, which resets the value from 24 to the minimum when it falls outside.
    seen.removeAll(0);
    QCOMPARE(seen, values);
    QCOMPARE(bar->maximum(), files);
    QVERIFY(bar->isHidden());
    QCOMPARE(maximumsWhileVisible.isEmpty(), values.isEmpty());
    for (int maximum : std::as_const(maximumsWhileVisible))
        QCOMPARE(maximum, files);
    for (int i = 0; i < files; ++i)
        QCOMPARE(readBytes(tree() + QStringLiteral("/f%1.ini").arg(i, 2, 10, QLatin1Char('0'))),
                 asWritten("x=dev-host\n"));
}

void tst_SwitchRun::clickDuringRunStartsNoSecondRun()
{
    makeTreeOfFiles(30);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    // Runs when the run first lets events through, at its tenth file.
    bool enabledDuringRun = true;
    QTimer::singleShot(0, this, [&] {
        auto *button = switchButton();
        enabledDuringRun = button->isEnabled();
        QTest::mouseClick(button, Qt::LeftButton);
        button->click();
    });
    click();

    QVERIFY(!enabledDuringRun);
    QVERIFY(switchButton()->isEnabled());
    // One run: config.ini once, each file once, all of them in development.
    QCOMPARE(journalLines().count(configHeader()), 1);
    QCOMPARE(journalLines().size(), 3 * 31);
    QVERIFY(!m_window->isProdActive());
    for (int i = 0; i < 30; ++i)
        QCOMPARE(readBytes(tree() + QStringLiteral("/f%1.ini").arg(i, 2, 10, QLatin1Char('0'))),
                 asWritten("x=dev-host\n"));
}

void tst_SwitchRun::clickAsWindowStartsIsKept()
{
    // The window first looks, off its thread, for what a stopped run left; a click meanwhile (the
    // user's first, as the window appears) switches the tree once that is done.
    makeTreeOfFiles(3);
    bool enabled = false;
    QTimer::singleShot(0, this, [&] {
        enabled = switchButton()->isEnabled();
        click();
    });
    QVERIFY(QTest::qWaitFor(
            [&] { return !m_window->isProdActive() && !m_window->isSwitchRunning(); }));
    QVERIFY(enabled);
    QCOMPARE(journalLines().count(configHeader()), 1);
    QCOMPARE(readBytes(tree() + QStringLiteral("/f02.ini")), asWritten("x=dev-host\n"));
}

void tst_SwitchRun::journalClearedDuringRunGoesOnFromEmpty()
{
    const PermissionsEnforced permissions;
    if (!permissions.enforced())
        QSKIP("the permission bits cannot be made to apply to this process");
    makeTreeOfFiles(30);
    // f09 cannot be read: its box holds the run while "Vider le journal" is clicked. What came
    // before, shown or not yet, goes; f09's own record comes once its box is closed.
    const QString unreadable = tree() + QStringLiteral("/f09.ini");
    QVERIFY(QFile::setPermissions(unreadable, QFileDevice::Permissions()));
    m_boxes->onBox = [&](const SeenMessageBox &box) {
        if (box.icon == QMessageBox::Critical)
            QTest::mouseClick(child<QPushButton>("pbClearLog"), Qt::LeftButton);
    };
    click();
    QVERIFY(QFile::setPermissions(unreadable, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    const QStringList lines = journalLines();
    QCOMPARE(lines.size(), 2 + 3 * 20);
    QCOMPARE(lines.constFirst(), QStringLiteral("Fichier non modifié : ") + displayed(unreadable));
    QCOMPARE(lines.at(2),
             QStringLiteral("Fichier modifié : ") + displayed(tree() + QStringLiteral("/f10.ini")));
}

void tst_SwitchRun::failedReloadChangesNothing()
{
    writeBytes(tree() + QStringLiteral("/a.ini"), "x=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    const QByteArray config = readBytes(SettingsFiles::configPath());

    m_settings->writeValues(QByteArray("prodVal=prod-host\nprodVal=x\ndevVal=dev-host\n"));
    click();

    QCOMPARE(m_boxes->boxes().size(), 1);
    QCOMPARE(m_boxes->boxes().constFirst().parent.data(), m_window.get());
    QVERIFY(m_boxes->boxes().constFirst().text.startsWith(QStringLiteral("Les valeurs")));
    QCOMPARE(readBytes(SettingsFiles::configPath()), config);
    QCOMPARE(readBytes(tree() + QStringLiteral("/a.ini")), QByteArray("x=prod-host\n"));
    QVERIFY(m_window->isProdActive());
    QVERIFY(journalLines().isEmpty());
    QVERIFY(child<QProgressBar>("progressBar")->isHidden());
}

void tst_SwitchRun::configInWindows1252IsSwitched()
{
    // A config.ini saved in Windows-1252 by a text editor: its environment line is switched, and
    // the accented comment comes back byte for byte.
    writeBytes(tree() + QStringLiteral("/a.ini"), "x=prod-host\n");
    const QByteArray comment = "; param\xE8tres de l'\xE9quipe\nMainDir=" + tree().toUtf8();
    m_settings->writeConfig(comment + "\r\nEnvironnement=prod\r\n");
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();

    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(readBytes(SettingsFiles::configPath()), asWritten(comment + "\nEnvironnement=dev\n"));
    QCOMPARE(readBytes(tree() + QStringLiteral("/a.ini")), asWritten("x=dev-host\n"));
    QVERIFY(!m_window->isProdActive());
}

void tst_SwitchRun::fileVanishedDuringRun()
{
    const PermissionsEnforced permissions;
    if (!permissions.enforced())
        QSKIP("the permission bits cannot be made to apply to this process");
    for (int i = 0; i < 12; ++i)
        writeBytes(tree() + QStringLiteral("/f%1.ini").arg(i, 2, 10, QLatin1Char('0')),
                   "x=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();

    // Deleted while the box about f05 waits, after the collection listed it and, most likely, it
    // was read and prepared ahead of its turn: its turn finds it gone.
    const QString unreadable = tree() + QStringLiteral("/f05.ini");
    QVERIFY(QFile::setPermissions(unreadable, QFileDevice::Permissions()));
    const QString vanished = tree() + QStringLiteral("/f11.ini");
    m_boxes->onBox = [&](const SeenMessageBox &) { QFile::remove(vanished); };
    click();
    QVERIFY(QFile::setPermissions(unreadable, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    QCOMPARE(m_boxes->summaries(),
             (QStringList{ "Fichier illisible | impossible d'ouvrir le fichier " + unreadable + ".",
                           "Erreur | Impossible d'ouvrir le fichier " + vanished,
                           "Fichier non trouvé | Le fichier " + vanished + " n'existe pas.",
                           leftBehindSummary(1, 0) }));
    QCOMPARE(m_boxes->boxes().at(2).icon, QMessageBox::Warning);
    QVERIFY(!QFile::exists(vanished));
    // The run went on: every other file was switched, and nothing was left beside them.
    for (int i = 0; i < 11; ++i) {
        if (i != 5)
            QCOMPARE(readBytes(tree() + QStringLiteral("/f%1.ini").arg(i, 2, 10, QLatin1Char('0'))),
                     asWritten("x=dev-host\n"));
    }
    QCOMPARE(QDir(tree()).entryList(QDir::Files | QDir::Hidden).size(), 11);
}

void tst_SwitchRun::filesThatWouldNotSurviveAreLeftIntactAndSaid()
{
    const QByteArray latin1 = asWritten("h\xF4te=prod-host\n");
    const QByteArray binary = QByteArray("\x89PNG\r\n\x1A\n\0\0prod-host\0", 20);
    const QByteArray binaryWithout = QByteArray("\x7F"
                                                "ELF\0\0\0\x01",
                                                8);
    writeBytes(tree() + QStringLiteral("/latin1.ini"), latin1);
    writeBytes(tree() + QStringLiteral("/image.png"), binary);
    writeBytes(tree() + QStringLiteral("/programme"), binaryWithout);
    for (const char *name : { "/image.png", "/programme" })
        ageFile(tree() + QLatin1String(name));
    const QDateTime aged = modificationTime(tree() + QStringLiteral("/image.png"));

    m_settings->writeConfig(tree(), QString(), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    click();

    // The Latin-1 file is switched byte for byte, and shown readably in the journal.
    QCOMPARE(readBytes(tree() + QStringLiteral("/latin1.ini")), asWritten("h\xF4te=dev-host\n"));
    QCOMPARE(readBytes(tree() + QStringLiteral("/image.png")), binary);
    QCOMPARE(readBytes(tree() + QStringLiteral("/programme")), binaryWithout);
    QCOMPARE(modificationTime(tree() + QStringLiteral("/image.png")), aged);
    const QStringList lines = journalLines();
    QCOMPARE(lines.mid(3),
             (QStringList{ "Fichier non modifié : " + displayed(tree() + "/image.png"),
                           textSafetyReason(TextSafety::HasNulBytes),
                           "Fichier modifié : " + displayed(tree() + "/latin1.ini"),
                           "Avant : hôte=prod-host", "Après : hôte=dev-host" }));
    // The binary file holding a value is the one file left in production: a box says so.
    QCOMPARE(m_boxes->summaries(), QStringList{ leftBehindSummary(1, 0) });
    QCOMPARE(m_boxes->boxes().constFirst().icon, QMessageBox::Warning);
    QCOMPARE(m_boxes->boxes().constFirst().parent.data(), m_window.get());

    click();
    QCOMPARE(readBytes(tree() + QStringLiteral("/latin1.ini")), latin1);
    QCOMPARE(m_boxes->boxes().size(), 1);
}

void tst_SwitchRun::linkCycleInTree()
{
    writeBytes(tree() + QStringLiteral("/a/b/fichier.ini"), "x=prod-host\n");
    QVERIFY(QFile::link(tree(), tree() + QStringLiteral("/a/b/retour")));
    QVERIFY(QFile::link(QStringLiteral(".."), tree() + QStringLiteral("/a/parent")));
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    click();

    QCOMPARE(m_window->collectedFiles(),
             QStringList{ tree() + QStringLiteral("/a/b/fichier.ini") });
    QCOMPARE(readBytes(tree() + QStringLiteral("/a/b/fichier.ini")), asWritten("x=dev-host\n"));
}

void tst_SwitchRun::roundTripRestoresTree_data()
{
    QTest::addColumn<quint32>("seed");
    // Requests in flight: as the disk's pace says, or as many as on a file share, the files'
    // reads and preparations then ending in any order.
    QTest::addColumn<QByteArray>("inFlight");
    for (quint32 seed : { 1u, 7u, 42u, 2024u, 99991u }) {
        const QByteArray inFlight = seed % 2 ? QByteArray() : QByteArray("48");
        QTest::newRow(qPrintable(QStringLiteral("seed %1%2")
                                         .arg(seed)
                                         .arg(inFlight.isEmpty()
                                                      ? QString()
                                                      : QStringLiteral(", 48 requests in flight"))))
                << seed << inFlight;
    }
}

void tst_SwitchRun::roundTripRestoresTree()
{
    QFETCH(quint32, seed);
    QFETCH(QByteArray, inFlight);
    qputenv("MIRABEX_REQUESTS_IN_FLIGHT", inFlight);
    const auto restore = qScopeGuard([] { qunsetenv("MIRABEX_REQUESTS_IN_FLIGHT"); });
    QRandomGenerator random(seed);

    // Values are distinct tokens that cannot overlap: a letter prefix per pair and environment.
    const int pairCount = 1 + random.bounded(8);
    QList<QPair<QString, QString>> pairs;
    for (int i = 0; i < pairCount; ++i)
        pairs.append(
                { QStringLiteral("P%1q-%2.prod.fr").arg(QChar(u'a' + i)).arg(random.bounded(1000)),
                  QStringLiteral("D%1q-%2.dév.fr")
                          .arg(QChar(u'a' + i))
                          .arg(random.bounded(1000)) });
    const QStringList fillers{ "clé", "valeur", "serveur", "chemin", "<port>", "{\"a\": 1}",
                               "é",   "日本",   "😀",       "   ",    "=",      "\t" };

    QStringList binaries;
    const int fileCount = 20 + random.bounded(40);
    for (int f = 0; f < fileCount; ++f) {
        const QString dir =
                QStringLiteral("/d%1/s%2").arg(random.bounded(4)).arg(random.bounded(3));
        const QString path = tree() + dir + QStringLiteral("/f%1.txt").arg(f);
        const int kind = random.bounded(10);
        if (kind == 0) {
            QByteArray bytes = QByteArray("\0\x01", 2) + pairs.at(0).first.toUtf8();
            binaries.append(path);
            writeBytes(path, bytes);
            continue;
        }
        if (kind == 1) { // Latin-1, switched byte for byte
            writeBytes(path, asWritten(QByteArray("caf\xE9 ") + pairs.at(0).first.toUtf8() + '\n'));
            continue;
        }
        QString text;
        const int lineCount = random.bounded(12);
        for (int l = 0; l < lineCount; ++l) {
            const int words = random.bounded(6);
            for (int w = 0; w < words; ++w) {
                if (random.bounded(4) == 0)
                    text += pairs.at(random.bounded(pairCount)).first;
                else
                    text += fillers.at(random.bounded(fillers.size()));
                if (random.bounded(2))
                    text += u' ';
            }
            text += u'\n';
        }
        writeBytes(path, asWritten(text.toUtf8()));
    }
    for (const QString &path : std::as_const(binaries))
        ageFile(path);
    const QMap<QString, QByteArray> before = snapshotTree(tree());
    QMap<QString, QDateTime> binaryTimes;
    for (const QString &path : std::as_const(binaries))
        binaryTimes.insert(path, modificationTime(path));

    // A pair with an empty side would delete "q-" from every development value on the way back.
    QList<QPair<QString, QString>> settingsPairs = pairs;
    settingsPairs.insert(random.bounded(pairCount + 1), { QString(), QStringLiteral("q-") });
    m_settings->writeConfig(tree(), QString(), QStringLiteral("prod"));
    m_settings->writeValues(settingsPairs);
    makeWindow();
    click();
    const QString leftAside =
            QStringLiteral("Paire de valeurs non utilisée : prodVal= / devVal=q-");
    QCOMPARE(journalLines().count(leftAside), 1);
    // The records come in the order of the walk, whatever order the reads ended in.
    QStringList recordedFiles;
    for (const QString &line : journalLines()) {
        if ((line.startsWith(QStringLiteral("Fichier modifié : "))
             || line.startsWith(QStringLiteral("Fichier non modifié : ")))
            && !line.contains(u"config.ini")) {
            const QString path = line.section(QStringLiteral(" : "), 1).replace(u'\\', u'/');
            if (recordedFiles.isEmpty() || recordedFiles.constLast() != path)
                recordedFiles.append(path);
        }
    }
    QStringList walked = m_window->collectedFiles();
    walked.removeIf([&](const QString &path) { return !recordedFiles.contains(path); });
    QCOMPARE(recordedFiles, walked);
    const QStringList expectedBoxes = binaries.isEmpty()
            ? QStringList()
            : QStringList{ leftBehindSummary(int(binaries.size()), 0) };
    QCOMPARE(m_boxes->summaries(), expectedBoxes);
    const QMap<QString, QByteArray> switched = snapshotTree(tree());
    for (auto it = switched.cbegin(); it != switched.cend(); ++it) {
        if (binaries.contains(tree() + u'/' + it.key()))
            continue;
        for (const auto &pair : std::as_const(pairs))
            QVERIFY2(!it.value().contains(pair.first.toUtf8()), qPrintable(it.key()));
    }
    click();

    QCOMPARE(m_boxes->summaries(), expectedBoxes);
    QCOMPARE(journalLines().count(leftAside), 2);
    const QMap<QString, QByteArray> after = snapshotTree(tree());
    QCOMPARE(after.keys(), before.keys());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    for (auto it = binaryTimes.cbegin(); it != binaryTimes.cend(); ++it)
        QCOMPARE(modificationTime(it.key()), it.value());
}

QTEST_MAIN(tst_SwitchRun)
#include "tst_switchrun.moc"
