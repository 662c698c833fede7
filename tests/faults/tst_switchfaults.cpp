// Faults of the file system met by "Échanger les valeurs": a full disk, a tree that changes while
// the run goes through it, files and folders that cannot be read, links. Each test clicks the real
// button over a real tree and checks the bytes on disk, the journal and the boxes shown.

#include "windowfixture.h"

#include "startup.h"
#include "files/rewrite.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <chrono>
#include <functional>
#include <thread>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#endif

namespace {

QString modifiedHeader(const QString &path)
{
    return QStringLiteral("Fichier modifié : ") + displayed(path);
}

QStringList switchedRecords(const QString &path, const QString &before, const QString &after)
{
    return { modifiedHeader(path), QStringLiteral("Avant : ") + before,
             QStringLiteral("Après : ") + after };
}

// A file left in the old environment, as the journal names it.
QStringList leftRecords(const QString &path, bool unreadable)
{
    return { QStringLiteral("Fichier non modifié : ") + displayed(path),
             unreadable ? QStringLiteral("Fichier illisible : ses valeurs n'ont pas été échangées.")
                        : QStringLiteral("Écriture impossible : le fichier garde son contenu "
                                         "d'avant l'échange.") };
}

QStringList configRecords()
{
    return switchedRecords(SettingsFiles::configPath(), QStringLiteral("Environnement=prod"),
                           QStringLiteral("Environnement=dev"));
}

// A small file system of its own (tmpfs) mounted on a folder for as long as the object lives, so
// that a test can fill it up. Mounting needs the right to (root outside a restricted container).
class SmallDisk
{
public:
    SmallDisk(const QString &folder, const QByteArray &size) : m_folder(folder)
    {
#ifdef Q_OS_LINUX
        const QByteArray options = "size=" + size;
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData())
            == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
#else
        Q_UNUSED(size);
        m_error = QStringLiteral("only on Linux");
#endif
    }
    ~SmallDisk()
    {
#ifdef Q_OS_LINUX
        if (m_mounted)
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
#endif
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const
    {
        return m_mounted;
    }
    QString error() const
    {
        return m_error;
    }

private:
    QString m_folder;
    bool m_mounted = false;
    QString m_error;
};

} // namespace

class tst_SwitchFaults : public WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void diskFullDuringWriteBack_fileKeepsItsBytesAndRunGoesOn_data();
    void diskFullDuringWriteBack_fileKeepsItsBytesAndRunGoesOn();
    void flushOrPlacementFails_saidAndNothingLost_data();
    void flushOrPlacementFails_saidAndNothingLost();
    void treeChangesDuringRun_eachFileSwitchedFromWhatItHoldsWhenReached_data();
    void treeChangesDuringRun_eachFileSwitchedFromWhatItHoldsWhenReached();
    void unreadableFilesAndFolders_leftIntactAndShown();
    void linkCycleAndLinkOutside_cycleNotWalkedOutsideFileSwitchedThroughLink();
    void fileReachedByTwoPaths_switchedOnce_data();
    void fileReachedByTwoPaths_switchedOnce();
    void settingsFilesInsideTree_keepTheirValues();
    void configNotWritable_nothingSwitchedEnvironmentKept();
    void linksFollowedAsTheSystemDoes_eachFileGetsItsOwnContent();
    void leftoverTemporaryFile_notTakenForAFileOfTheTree();
    void runStoppedHalfWay_settledAtNextStart_data();
    void runStoppedHalfWay_settledAtNextStart();
    void programStoppedAtAnyInstant_treeInOneEnvironment();
    void secondWindowAtAnyInstant_oneRunAtATime();
    void folderMountedBelowItself_walkedOnce();

private:
    QStringList m_extraFiles; // made next to the executable, removed by cleanup()
};

void tst_SwitchFaults::init()
{
    initFixture();
}

void tst_SwitchFaults::cleanup()
{
    m_window.reset();
    for (const QString &path : std::as_const(m_extraFiles))
        QFile::remove(path);
    m_extraFiles.clear();
    // Folders made unreadable by a test are opened again, so that they can be removed.
    if (m_dir) {
        QDir::Filters all = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden;
        const QString top = tree();
        QStringList folders{ top };
        while (!folders.isEmpty()) {
            const QString folder = folders.takeLast();
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            for (const QFileInfo &entry : QDir(folder).entryInfoList(all)) {
                if (!entry.isSymLink())
                    folders.append(entry.filePath());
            }
        }
    }
    cleanupFixture();
}

void tst_SwitchFaults::diskFullDuringWriteBack_fileKeepsItsBytesAndRunGoesOn_data()
{
    // A full disk would fail every file after the big one: the run is abandoned with one box. A
    // file too large for the limit is that file's own failure: the run goes on without it.
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("small tmpfs full: run abandoned") << true;
    QTest::newRow("file size limit reached: that file left") << false;
}

void tst_SwitchFaults::diskFullDuringWriteBack_fileKeepsItsBytesAndRunGoesOn()
{
    QFETCH(bool, tmpfs);
    // The tree lives on the small disk: 256 KB, of which the big file takes 160 KB; its new
    // content needs as much again beside it.
    std::unique_ptr<SmallDisk> disk;
    std::unique_ptr<FileSizeLimit> limit;
    if (tmpfs) {
        disk = std::make_unique<SmallDisk>(tree(), "256k");
        if (!disk->mounted())
            QSKIP(qPrintable(QStringLiteral("a tmpfs cannot be mounted here: ") + disk->error()));
    }
    QByteArray big = "url=prod-host\n";
    while (big.size() < 160 * 1024)
        big += "ligne de remplissage sans valeur, qui occupe de la place sur le disque\n";
    const QString bigPath = tree() + QStringLiteral("/a/gros.ini");
    writeBytes(bigPath, big);
    writeBytes(tree() + QStringLiteral("/b.ini"), "url=prod-host\n");
    writeBytes(tree() + QStringLiteral("/c.ini"), "autre=prod-host\n");
    ageFile(bigPath);
    const QDateTime bigTime = modificationTime(bigPath);

    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    QString journalAtBox;
    m_boxes->onBox = [&](const SeenMessageBox &box) {
        if (box.icon == QMessageBox::Critical)
            journalAtBox = journalLines().join(u'\n');
    };
    if (!tmpfs) {
        limit = std::make_unique<FileSizeLimit>(100 * 1024);
        if (!limit->active())
            QSKIP("the file size limit cannot be set for this process");
    }
    click();
    limit.reset();

    // The big file keeps every byte, and nothing is left beside it.
    QCOMPARE(readBytes(bigPath), big);
    QCOMPARE(modificationTime(bigPath), bigTime);
    QCOMPARE(entriesOf(tree() + QStringLiteral("/a")), QStringList{ QStringLiteral("gros.ini") });
    const QStringList bigRecords = configRecords()
            + switchedRecords(bigPath, QStringLiteral("url=prod-host"),
                              QStringLiteral("url=dev-host"));
    if (tmpfs) {
        QCOMPARE(m_boxes->summaries(),
                 QStringList{ "Mirabex | Le fichier " + bigPath
                              + " ne peut pas être écrit : le disque est plein.\nLes autres "
                                "fichiers ne pourraient pas l'être non plus : l'échange a été "
                                "annulé. Aucun fichier n'a été modifié." });
        QCOMPARE(readBytes(tree() + QStringLiteral("/b.ini")), QByteArray("url=prod-host\n"));
        QVERIFY(readBytes(SettingsFiles::configPath()).contains("Environnement=prod"));
        QVERIFY(m_window->isProdActive());
        const QStringList abandoned{ "Échange annulé : " + displayed(tree()),
                                     "Aucun fichier n'a été modifié, l'arborescence est restée en "
                                     "production." };
        QCOMPARE(journalLines(), bigRecords + abandoned);
        return;
    }
    QCOMPARE(m_boxes->summaries(),
             (QStringList{ QStringLiteral("Erreur | Modification non prise en compte, vérifier "
                                          "l'accès au fichier ")
                                   + bigPath,
                           leftBehindSummary(1, 0) }));
    QCOMPARE(m_boxes->boxes().constLast().icon, QMessageBox::Warning);
    QCOMPARE(m_boxes->boxes().constLast().parent.data(), m_window.get());
    QCOMPARE(m_boxes->boxes().constFirst().icon, QMessageBox::Critical);
    // The run went on with the next files, which fit.
    QCOMPARE(readBytes(tree() + QStringLiteral("/b.ini")), QByteArray("url=dev-host\n"));
    QCOMPARE(readBytes(tree() + QStringLiteral("/c.ini")), QByteArray("autre=dev-host\n"));
    QCOMPARE(entriesOf(tree()), (QStringList{ "a", "b.ini", "c.ini" }));
    const QStringList expected = bigRecords + leftRecords(bigPath, false)
            + switchedRecords(tree() + QStringLiteral("/b.ini"), QStringLiteral("url=prod-host"),
                              QStringLiteral("url=dev-host"))
            + switchedRecords(tree() + QStringLiteral("/c.ini"), QStringLiteral("autre=prod-host"),
                              QStringLiteral("autre=dev-host"));
    QCOMPARE(journalLines(), expected);
    // The box came once the big file's records were shown.
    QCOMPARE(journalAtBox, expected.mid(0, 6).join(u'\n'));
}

void tst_SwitchFaults::flushOrPlacementFails_saidAndNothingLost_data()
{
    QTest::addColumn<int>("failing"); // FailingCalls
    QTest::addColumn<QByteArray>("named"); // the folder, or the file's new name, that fails
    QTest::addColumn<bool>("switched"); // whether the run recorded the new environment
    QTest::addColumn<QStringList>("placed"); // the files that got their new content
    QTest::addColumn<QString>("summary");
    QTest::newRow("the new contents cannot be made durable: abandoned")
            << int(FailingCalls::FileSystemFlush | FailingCalls::FolderFlush) << QByteArray()
            << false << QStringList()
            << "Mirabex | Les nouvelles versions des fichiers n'ont pas pu être écrites sur le "
               "disque : l'échange a été annulé. Aucun fichier n'a été modifié.";
    // A power cut could lose config.ini's new name: the files wait for the next click.
    QTest::newRow("config.ini's folder cannot be flushed: the files wait for the next click")
            << int(FailingCalls::FolderFlush) << QByteArray() << true << QStringList()
            << "Mirabex | Le disque n'a pas confirmé l'enregistrement du nouvel environnement "
               "dans le fichier "
                    + SettingsFiles::configPath()
                    + " : les nouvelles versions des fichiers (2) attendent à côté d'eux, et le "
                      "prochain clic sur « Échanger les valeurs », ou le prochain démarrage de "
                      "Mirabex, les mettra en place. D'ici là, l'arborescence est encore en "
                      "production.";
    QTest::newRow("the tree's folder cannot be flushed after: switched, and said")
            << int(FailingCalls::FolderFlush) << QByteArray("/arbre") << true
            << QStringList{ "a.ini", "b.ini" }
            << "Mirabex | Le disque n'a pas confirmé l'écriture de l'échange : une coupure de "
               "courant dans les instants qui suivent pourrait en perdre une partie.";
    // b.ini's new content cannot take its name for now: it waits beside it for the next click.
    QTest::newRow("a file cannot be put in place: kept for the next click")
            << int(FailingCalls::Rename) << QByteArray("b.ini") << true << QStringList{ "a.ini" }
            << leftBehindSummary(1, 0).replace(
                       "\nLe journal",
                       "\nParmi eux, nouvelles versions qui attendent à côté de leur fichier "
                       "d'être mises en place : 1 (le prochain clic sur « Échanger les valeurs », "
                       "ou le prochain démarrage de Mirabex, les mettra en place).\nLe journal");
}

void tst_SwitchFaults::flushOrPlacementFails_saidAndNothingLost()
{
    QFETCH(int, failing);
    QFETCH(QByteArray, named);
    QFETCH(bool, switched);
    QFETCH(QStringList, placed);
    QFETCH(QString, summary);
    // One flush of the file system covers every new content only where the system says so.
    const QByteArray type = QStorageInfo(m_dir->path()).fileSystemType();
    if (!QList<QByteArray>{ "ext4", "ext3", "ext2", "xfs", "btrfs", "tmpfs" }.contains(type))
        QSKIP(("each file is flushed on its own on " + type).constData());
    const QStringList files{ "a.ini", "b.ini" };
    for (const QString &file : files)
        writeBytes(tree() + u'/' + file, "url=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    {
        const FailingCalls calls(failing, named);
        if (!calls.active())
            QSKIP("system calls cannot be made to fail here");
        click();
    }

    QCOMPARE(m_boxes->summaries(), QStringList{ summary });
    QCOMPARE(m_window->isProdActive(), !switched);
    for (const QString &file : files)
        QCOMPARE(readBytes(tree() + u'/' + file),
                 placed.contains(file) ? asWritten("url=dev-host\n") : "url=prod-host\n");
    // What waits beside its file is put in place by the next click, which ends there.
    const qsizetype waiting = switched ? files.size() - placed.size() : 0;
    QCOMPARE(entriesOf(tree()).size(), files.size() + waiting);
    if (waiting == 0)
        return;
    m_boxes->clear();
    click();
    QCOMPARE(m_boxes->boxes().size(), 1);
    QVERIFY2(m_boxes->summaries().constFirst().contains(
                     QStringLiteral("Fichiers mis en place : %1").arg(waiting)),
             qPrintable(m_boxes->summaries().constFirst()));
    for (const QString &file : files)
        QCOMPARE(readBytes(tree() + u'/' + file), asWritten("url=dev-host\n"));
    QCOMPARE(entriesOf(tree()), files);
    QVERIFY(!m_window->isProdActive());
}

void tst_SwitchFaults::treeChangesDuringRun_eachFileSwitchedFromWhatItHoldsWhenReached_data()
{
    // Requests in flight: as the disk's pace says (few on a local disk), or as many as on a file
    // share, where later files are read and prepared, out of order, while the box waits.
    QTest::addColumn<QByteArray>("inFlight");
    QTest::newRow("at the disk's pace") << QByteArray();
    QTest::newRow("48 requests in flight") << QByteArray("48");
}

void tst_SwitchFaults::treeChangesDuringRun_eachFileSwitchedFromWhatItHoldsWhenReached()
{
    QFETCH(QByteArray, inFlight);
    if (!PermissionsEnforced().enforced())
        QSKIP("the permission bits cannot be made to apply to this process");
    // The first file of the run cannot be read: its box holds the run while the tree changes.
    const QString locked = tree() + QStringLiteral("/a/verrou.ini");
    writeBytes(locked, "url=prod-host\n");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    const QString removedFolderFile = tree() + QStringLiteral("/m/dedans.ini");
    writeBytes(removedFolderFile, "url=prod-host\n");
    const QString removed = tree() + QStringLiteral("/b.ini");
    const QString emptied = tree() + QStringLiteral("/c.ini");
    const QString filled = tree() + QStringLiteral("/d.ini");
    const QString becameFolder = tree() + QStringLiteral("/e.ini");
    const QString appeared = tree() + QStringLiteral("/f.ini");
    // Switched before the box, then saved by another program while the run still goes on: it
    // keeps what that program wrote.
    const QString savedMeanwhile = tree() + QStringLiteral("/0/avant.ini");
    writeBytes(savedMeanwhile, "url=prod-host\n");
    writeBytes(removed, "url=prod-host\n");
    writeBytes(emptied, "url=prod-host\n");
    writeBytes(filled, "url=aucune\n");
    writeBytes(becameFolder, "url=prod-host\n");

    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    QDateTime emptiedTime;
    m_boxes->onBox = [&](const SeenMessageBox &box) {
        if (!box.text.contains(QStringLiteral("verrou.ini")))
            return;
        QVERIFY(QDir(tree() + QStringLiteral("/m")).removeRecursively());
        QVERIFY(QFile::remove(removed));
        writeBytes(emptied, "url=plus de valeur\n");
        ageFile(emptied);
        emptiedTime = modificationTime(emptied);
        writeBytes(filled, "url=prod-host\n");
        QVERIFY(QFile::remove(becameFolder));
        QVERIFY(QDir().mkpath(becameFolder));
        writeBytes(appeared, "url=prod-host\n");
        writeBytes(savedMeanwhile, "url=prod-host\nautre=enregistré ailleurs\n");
    };
    // Old enough for the run to read the files ahead of their turn: those that change meanwhile
    // must be read again.
    QThread::msleep(100);
    {
        PermissionsEnforced enforced;
        if (!enforced.enforced())
            QSKIP("the permission bits cannot be made to apply to this process");
        qputenv("MIRABEX_REQUESTS_IN_FLIGHT", inFlight);
        click();
        qunsetenv("MIRABEX_REQUESTS_IN_FLIGHT");
    }

    QCOMPARE(m_boxes->summaries(),
             (QStringList{
                     "Fichier illisible | impossible d'ouvrir le fichier " + locked + ".",
                     "Erreur | Impossible d'ouvrir le fichier " + removedFolderFile,
                     "Fichier non trouvé | Le fichier " + removedFolderFile + " n'existe pas.",
                     "Erreur | Impossible d'ouvrir le fichier " + removed,
                     "Fichier non trouvé | Le fichier " + removed + " n'existe pas.",
                     "Fichier illisible | impossible d'ouvrir le fichier " + becameFolder + ".",
                     leftBehindSummary(3, 0),
             }));
    // Nothing comes back where something vanished; what changed is switched from what it holds.
    QVERIFY(!QFileInfo::exists(removed));
    QVERIFY(!QFileInfo::exists(tree() + QStringLiteral("/m")));
    QCOMPARE(readBytes(emptied), QByteArray("url=plus de valeur\n"));
    QCOMPARE(modificationTime(emptied), emptiedTime);
    QCOMPARE(readBytes(filled), QByteArray("url=dev-host\n"));
    QVERIFY(QFileInfo(becameFolder).isDir());
    // A file that appeared after the listing is not part of this run.
    QCOMPARE(readBytes(appeared), QByteArray("url=prod-host\n"));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(readBytes(locked), QByteArray("url=prod-host\n"));
    QCOMPARE(readBytes(savedMeanwhile), QByteArray("url=prod-host\nautre=enregistré ailleurs\n"));
    QCOMPARE(journalLines(),
             configRecords()
                     + switchedRecords(savedMeanwhile, QStringLiteral("url=prod-host"),
                                       QStringLiteral("url=dev-host"))
                     + leftRecords(locked, true)
                     + switchedRecords(filled, QStringLiteral("url=prod-host"),
                                       QStringLiteral("url=dev-host"))
                     + leftRecords(becameFolder, true)
                     + (QStringList{
                             QStringLiteral("Fichier non modifié : ") + displayed(savedMeanwhile),
                             QStringLiteral("Fichier changé pendant l'échange : il garde son "
                                            "contenu, ses valeurs n'ont pas été échangées.") }));
    QCOMPARE(entriesOf(tree()), (QStringList{ "0", "a", "c.ini", "d.ini", "e.ini", "f.ini" }));
    QCOMPARE(entriesOf(tree() + QStringLiteral("/0")), QStringList{ QStringLiteral("avant.ini") });
}

void tst_SwitchFaults::unreadableFilesAndFolders_leftIntactAndShown()
{
    if (!PermissionsEnforced().enforced())
        QSKIP("the permission bits cannot be made to apply to this process");
    // A file without any right, a folder that cannot be listed, one that can be listed but not
    // gone through, one that can be gone through but not listed; a readable file beside each.
    const QString lockedFile = tree() + QStringLiteral("/fichier-verrouille.ini");
    writeBytes(lockedFile, "url=prod-host\n");
    const QStringList lockedFolders{ tree() + QStringLiteral("/sans-droits/"),
                                     tree() + QStringLiteral("/sans-lecture/"),
                                     tree() + QStringLiteral("/sans-traversee/") };
    const QList<QFile::Permissions> folderRights{ QFile::Permissions(), QFile::ExeOwner,
                                                  QFile::ReadOwner };
    for (const QString &folder : lockedFolders)
        writeBytes(folder + QStringLiteral("dedans.ini"), "url=prod-host\n");
    const QString readable = tree() + QStringLiteral("/lisible/ok.ini");
    writeBytes(readable, "url=prod-host\n");
    const QString topReadable = tree() + QStringLiteral("/z.ini");
    writeBytes(topReadable, "url=prod-host\n");

    QVERIFY(QFile::setPermissions(lockedFile, QFile::WriteOwner));
    // Reached a second time through a link, a folder is still named and counted once.
    QVERIFY(QFile::link(lockedFolders.at(0), tree() + QStringLiteral("/zz-lien")));
    for (qsizetype i = 0; i < lockedFolders.size(); ++i)
        QVERIFY(QFile::setPermissions(lockedFolders.at(i), folderRights.at(i)));

    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    {
        PermissionsEnforced enforced;
        if (!enforced.enforced())
            QSKIP("the permission bits cannot be made to apply to this process");
        click();
    }

    QCOMPARE(m_boxes->summaries(),
             (QStringList{ "Fichier illisible | impossible d'ouvrir le fichier " + lockedFile + ".",
                           leftBehindSummary(1, 3) }));
    QCOMPARE(m_boxes->boxes().constFirst().icon, QMessageBox::Critical);
    QStringList expected = configRecords();
    for (const QString &folder : lockedFolders) {
        expected << QStringLiteral("Dossier non parcouru : ") + displayed(folder)
                 << QStringLiteral("Dossier illisible : les fichiers qu'il contient n'ont pas "
                                   "été échangés.");
    }
    expected += switchedRecords(readable, QStringLiteral("url=prod-host"),
                                QStringLiteral("url=dev-host"));
    expected += leftRecords(lockedFile, true);
    expected += switchedRecords(topReadable, QStringLiteral("url=prod-host"),
                                QStringLiteral("url=dev-host"));
    QCOMPARE(journalLines(), expected);

    // Given their rights back, the files that could not be reached still hold their values.
    QVERIFY(QFile::setPermissions(lockedFile, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(readBytes(lockedFile), QByteArray("url=prod-host\n"));
    for (const QString &folder : lockedFolders) {
        QVERIFY(QFile::setPermissions(folder,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(readBytes(folder + QStringLiteral("dedans.ini")), QByteArray("url=prod-host\n"));
        QCOMPARE(entriesOf(folder), QStringList{ QStringLiteral("dedans.ini") });
    }
    QCOMPARE(readBytes(readable), QByteArray("url=dev-host\n"));
}

void tst_SwitchFaults::linkCycleAndLinkOutside_cycleNotWalkedOutsideFileSwitchedThroughLink()
{
    if (!symbolicLinksArePosix())
        QSKIP("symbolic links are made the POSIX way");
    const QString outside = m_dir->path() + QStringLiteral("/ailleurs");
    writeBytes(outside + QStringLiteral("/partage.ini"), "url=prod-host\n");
    writeBytes(tree() + QStringLiteral("/a/b/local.ini"), "url=prod-host\n");
    QVERIFY(QFile::link(QStringLiteral("../.."), tree() + QStringLiteral("/a/b/boucle")));
    QVERIFY(QFile::link(outside, tree() + QStringLiteral("/partage")));
    QVERIFY(QFile::link(outside + QStringLiteral("/partage.ini"),
                        tree() + QStringLiteral("/lien.ini")));
    QVERIFY(QFile::link(tree() + QStringLiteral("/nulle-part.ini"),
                        tree() + QStringLiteral("/casse.ini")));

    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    // The walk ends; the shared file is switched once, through the first path that reaches it,
    // and the links stay links.
    QCOMPARE(m_window->collectedFiles(),
             (QStringList{ tree() + "/a/b/local.ini", tree() + "/partage/partage.ini",
                           tree() + "/lien.ini" }));
    QCOMPARE(readBytes(tree() + QStringLiteral("/a/b/local.ini")), QByteArray("url=dev-host\n"));
    QCOMPARE(readBytes(outside + QStringLiteral("/partage.ini")), QByteArray("url=dev-host\n"));
    QVERIFY(QFileInfo(tree() + QStringLiteral("/lien.ini")).isSymLink());
    QVERIFY(QFileInfo(tree() + QStringLiteral("/partage")).isSymLink());
    QVERIFY(QFileInfo(tree() + QStringLiteral("/casse.ini")).isSymLink());
    QCOMPARE(journalLines(),
             configRecords()
                     + switchedRecords(tree() + "/a/b/local.ini", QStringLiteral("url=prod-host"),
                                       QStringLiteral("url=dev-host"))
                     + switchedRecords(tree() + "/partage/partage.ini",
                                       QStringLiteral("url=prod-host"),
                                       QStringLiteral("url=dev-host")));
}

void tst_SwitchFaults::fileReachedByTwoPaths_switchedOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("records");
    QTest::newRow("link to a file of the tree") << QStringLiteral("symlink") << 1;
    // The rewrite replaces the name it writes by a new file: the other name keeps the old
    // content, and is switched in turn.
    QTest::newRow("hard link") << QStringLiteral("hardlink") << 2;
    QTest::newRow("folder linked from a sibling") << QStringLiteral("folder") << 1;
}

void tst_SwitchFaults::fileReachedByTwoPaths_switchedOnce()
{
    QFETCH(QString, kind);
    QFETCH(int, records);
    if (kind != u"hardlink" && !symbolicLinksArePosix())
        QSKIP("symbolic links are made the POSIX way");
    // The development value holds the production one: a second pass over the same file would
    // make "serveur-dev-dev".
    const QString real = tree() + QStringLiteral("/conf/app.ini");
    writeBytes(real, "hote=serveur\n");
    QString second;
    if (kind == u"symlink") {
        second = tree() + QStringLiteral("/lien.ini");
        QVERIFY(QFile::link(QStringLiteral("conf/app.ini"), second));
    } else if (kind == u"hardlink") {
        second = tree() + QStringLiteral("/dur.ini");
        QVERIFY(makeHardLink(real, second));
    } else {
        QVERIFY(QDir().mkpath(tree() + QStringLiteral("/vue")));
        QVERIFY(QFile::link(QStringLiteral("../conf"), tree() + QStringLiteral("/vue/conf")));
        second = tree() + QStringLiteral("/vue/conf/app.ini");
    }

    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("serveur"), QStringLiteral("serveur-dev") } });
    makeWindow();
    click();

    QVERIFY(m_window->collectedFiles().contains(second));
    QVERIFY(m_window->collectedFiles().contains(real));
    QCOMPARE(readBytes(real), asWritten("hote=serveur-dev\n"));
    QCOMPARE(readBytes(second), asWritten("hote=serveur-dev\n"));
    QCOMPARE(journalLines().count(QStringLiteral("Avant : hote=serveur")), records);

    // And back.
    click();
    QCOMPARE(readBytes(real), asWritten("hote=serveur\n"));
    QCOMPARE(readBytes(second), asWritten("hote=serveur\n"));
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_SwitchFaults::settingsFilesInsideTree_keepTheirValues()
{
    // The tree is the program's own folder: config.ini and values.ini are in it.
    const QString folder = QCoreApplication::applicationDirPath();
    const QString other = folder + QStringLiteral("/autre.ini");
    m_extraFiles << other;
    writeBytes(other, "url=prod-host\nenv=prod\n");
    m_settings->writeConfig(folder, QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") },
                              { QStringLiteral("prod"), QStringLiteral("dev") } });
    const QByteArray values = readBytes(SettingsFiles::valuesPath());
    makeWindow();
    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(readBytes(SettingsFiles::valuesPath()), values);
    QVERIFY(readBytes(SettingsFiles::configPath()).contains("Environnement=dev"));
    QCOMPARE(readBytes(other), asWritten("url=dev-host\nenv=dev\n"));

    click();
    QCOMPARE(readBytes(SettingsFiles::valuesPath()), values);
    QVERIFY(readBytes(SettingsFiles::configPath()).contains("Environnement=prod"));
    QCOMPARE(readBytes(other), asWritten("url=prod-host\nenv=prod\n"));
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_SwitchFaults::configNotWritable_nothingSwitchedEnvironmentKept()
{
    if (!PermissionsEnforced().enforced())
        QSKIP("the permission bits cannot be made to apply to this process");
    writeBytes(tree() + QStringLiteral("/app.ini"), "url=prod-host\n");
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    const QByteArray config = readBytes(SettingsFiles::configPath());
    makeWindow();
    QVERIFY(QFile::setPermissions(SettingsFiles::configPath(), QFile::ReadOwner));
    {
        PermissionsEnforced enforced;
        if (!enforced.enforced())
            QSKIP("the permission bits cannot be made to apply to this process");
        click();
    }
    QVERIFY(QFile::setPermissions(SettingsFiles::configPath(),
                                  QFile::ReadOwner | QFile::WriteOwner));

    // config.ini would name production over a tree in development: nothing is switched.
    QCOMPARE(m_boxes->summaries(),
             QStringList{ QStringLiteral("Erreur | Modification non prise en compte, vérifier "
                                         "l'accès au fichier ")
                          + SettingsFiles::configPath() });
    QCOMPARE(readBytes(SettingsFiles::configPath()), config);
    QCOMPARE(readBytes(tree() + QStringLiteral("/app.ini")), QByteArray("url=prod-host\n"));
    QVERIFY(m_window->isProdActive());
    QVERIFY(journalLines().isEmpty());

    // Writable again, the next click switches as usual.
    m_boxes->clear();
    click();
    QVERIFY(m_boxes->boxes().isEmpty());
    QCOMPARE(readBytes(tree() + QStringLiteral("/app.ini")), QByteArray("url=dev-host\n"));
    QVERIFY(!m_window->isProdActive());
}

void tst_SwitchFaults::linksFollowedAsTheSystemDoes_eachFileGetsItsOwnContent()
{
    // conf is a link to a folder outside the tree, and conf/app.ini a link whose target goes up
    // from there: "../common/app.ini" is the outside common/app.ini, not the tree's, although
    // tidying the text "a/conf/../common" would give "a/common".
    if (!symbolicLinksArePosix())
        QSKIP("symbolic links are made the POSIX way");
    const QString outside = m_dir->path() + QStringLiteral("/dehors");
    writeBytes(outside + QStringLiteral("/common/app.ini"), "hote=prod-host\nici=dehors\n");
    QVERIFY(QDir().mkpath(outside + QStringLiteral("/conf")));
    QVERIFY(QFile::link(QStringLiteral("../common/app.ini"),
                        outside + QStringLiteral("/conf/app.ini")));
    writeBytes(tree() + QStringLiteral("/a/common/app.ini"), "hote=prod-host\nici=arbre\n");
    QVERIFY(QFile::link(QStringLiteral("../../dehors/conf"), tree() + QStringLiteral("/a/conf")));
    // A link to a file whose name is not UTF-8.
    const QByteArray oddName = QFile::encodeName(tree()) + "/caf\xE9.ini";
    QVERIFY(writeBytesNamed(oddName, "hote=prod-host\n"));
    QVERIFY(makeSymbolicLinkNamed("caf\xE9.ini", QFile::encodeName(tree()) + "/lien.ini"));

    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    click();

    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(readBytes(tree() + QStringLiteral("/a/common/app.ini")),
             QByteArray("hote=dev-host\nici=arbre\n"));
    QCOMPARE(readBytes(outside + QStringLiteral("/common/app.ini")),
             QByteArray("hote=dev-host\nici=dehors\n"));
    QVERIFY(QFileInfo(outside + QStringLiteral("/conf/app.ini")).isSymLink());
    // The file with the odd name got the new content; no file appeared under another name.
    QCOMPARE(readBytesNamed(oddName), QByteArray("hote=dev-host\n"));
    QVERIFY(QFileInfo(tree() + QStringLiteral("/lien.ini")).isSymLink());
    QCOMPARE(rawEntriesOf(QFile::encodeName(tree())),
             (QList<QByteArray>{ "a", "caf\xE9.ini", "lien.ini" }));
    QCOMPARE(rawEntriesOf(QFile::encodeName(tree() + QStringLiteral("/a/common"))),
             QList<QByteArray>{ "app.ini" });
    QCOMPARE(rawEntriesOf(QFile::encodeName(outside + QStringLiteral("/common"))),
             QList<QByteArray>{ "app.ini" });
}

void tst_SwitchFaults::leftoverTemporaryFile_notTakenForAFileOfTheTree()
{
    // What a rewrite killed half-way leaves beside a file: not a file of the tree.
    const QString leftover = tree() + QStringLiteral("/.mirabex-k3x9q2");
    writeBytes(leftover, "url=prod-host\n");
    writeBytes(tree() + QStringLiteral("/.mirabex-notes"), "url=prod-host\n");
    writeBytes(tree() + QStringLiteral("/app.ini"), "url=prod-host\n");
    m_settings->writeConfig(tree(), QString(), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    click();

    QCOMPARE(m_window->collectedFiles(),
             (QStringList{ tree() + "/.mirabex-notes", tree() + "/app.ini" }));
    QCOMPARE(readBytes(leftover), QByteArray("url=prod-host\n"));
    QCOMPARE(readBytes(tree() + QStringLiteral("/app.ini")), asWritten("url=dev-host\n"));
    // And a rewrite leaves nothing beside the files.
    QCOMPARE(entriesOf(tree()), (QStringList{ ".mirabex-k3x9q2", ".mirabex-notes", "app.ini" }));
}

void tst_SwitchFaults::runStoppedHalfWay_settledAtNextStart_data()
{
    QTest::addColumn<QString>("environment"); // what config.ini says at the next start
    QTest::addColumn<bool>("changedSince");
    // "link": the tree's file is a link to a file outside it; "replacing": the stop came while
    // the file was being replaced in two steps (as Windows does), the file as it was under a
    // backup name and none under its own; "removed", "renamed": the user removed or renamed the
    // file after the stop; "click": the window was open, idle, when another one was killed in
    // the middle of a run (its config.ini's new content left too), and a click finds it.
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QString>("expected"); // the file's content afterwards
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("summary");
    const QString stopped = QStringLiteral("Mirabex | Le dernier échange ne s'est pas terminé : "
                                           "Mirabex a été arrêté pendant l'échange, ou n'a pas "
                                           "pu mettre en place tous ses fichiers.\n");
    const QString finished = stopped
            + QStringLiteral("Le nouvel environnement était déjà enregistré dans le fichier ")
            + SettingsFiles::configPath()
            + QStringLiteral(" : l'échange a été terminé, l'arborescence est maintenant en "
                             "développement.\n");
    const QString removed = "Échange interrompu avant l'enregistrement du nouvel environnement : "
                            "sa nouvelle version a été supprimée.";
    const QString removedSummary = stopped
            + "Le nouvel environnement n'était pas encore enregistré : l'échange a été annulé, "
              "l'arborescence est restée en production.\nVersions préparées supprimées : %1\nLe "
              "journal les nomme.";
    QTest::newRow("stopped before config.ini was written: abandoned")
            << "prod" << false << ""
            << "url=prod-host\n"
            << removed << removedSummary.arg(1);
    QTest::newRow("a click after another window was killed: abandoned, then switched")
            << "prod" << false << "click"
            << "url=prod-host\n"
            << removed << removedSummary.arg(2);
    const QString placed = "Échange interrompu : sa nouvelle version a été mise en place.";
    const QString placedSummary = finished + "Fichiers mis en place : 1\nLe journal les nomme.";
    QTest::newRow("stopped after config.ini was written: finished") << "dev" << false << ""
                                                                    << "url=dev-host\n"
                                                                    << placed << placedSummary;
    QTest::newRow("finished through a link to a file outside the tree") << "dev" << false << "link"
                                                                        << "url=dev-host\n"
                                                                        << placed << placedSummary;
    QTest::newRow("finished while the file was being replaced") << "dev" << false << "replacing"
                                                                << "url=dev-host\n"
                                                                << placed << placedSummary;
    QTest::newRow("abandoned while the file was being replaced: it comes back")
            << "prod" << false << "replacing"
            << "url=prod-host\n"
            << removed << removedSummary.arg(1);
    QTest::newRow("finished, but the file changed since it was read: kept as it is")
            << "dev" << true << ""
            << "url=prod-host\nmodifié depuis\n"
            << "Échange interrompu : le fichier a changé depuis, il garde son contenu et sa "
               "nouvelle version a été supprimée."
            << finished
                    + "Fichiers mis en place : 0\nFichiers changés depuis, laissés tels quels "
                      "(peut-être encore en production) : 1\nLe journal les nomme.";
    const QString gone = "Échange interrompu : le fichier a été supprimé ou renommé depuis, sa "
                         "nouvelle version a été supprimée.";
    const QString goneSummary = stopped
            + "Fichiers supprimés ou renommés depuis, laissés ainsi (leurs nouvelles versions ont "
              "été supprimées) : 1\nLe journal les nomme.";
    QTest::newRow("finished, but the file was removed since: it stays removed")
            << "dev" << false << "removed"
            << "" << gone << goneSummary;
    QTest::newRow("finished, but the file was renamed since: not brought back")
            << "dev" << false << "renamed"
            << "" << gone << goneSummary;
}

void tst_SwitchFaults::runStoppedHalfWay_settledAtNextStart()
{
    QFETCH(QString, environment);
    QFETCH(bool, changedSince);
    QFETCH(QString, shape);
    QFETCH(QString, expected);
    QFETCH(QString, record);
    QFETCH(QString, summary);
    const bool throughLink = shape == QLatin1String("link");
    if (throughLink && !symbolicLinksArePosix())
        QSKIP("symbolic links are not made the POSIX way here");
    QString file = tree() + QStringLiteral("/a/app.ini");
    writeBytes(file, "url=prod-host\n");
    if (throughLink) {
        file = m_dir->path() + QStringLiteral("/dehors/app.ini");
        writeBytes(file, "url=prod-host\n");
        QVERIFY(QFile::link(QStringLiteral("../../dehors/app.ini"),
                            tree() + QStringLiteral("/a/lien.ini")));
    }
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), environment);
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    const bool atClick = shape == QLatin1String("click");
    if (atClick) {
        makeWindow();
        QCoreApplication::processEvents(); // nothing to settle yet
    }
    // What a run towards development killed half-way leaves: the file's new content beside it
    // (and config.ini's, when it was killed in another window).
    const auto leave = [](const QString &path, const QByteArray &content, PreparedFile &prepared) {
        Rewrite rewrite(path, false, fileStamp(path));
        rewrite.write(content);
        return bool(rewrite.prepare(prepared));
    };
    PreparedFile prepared;
    QVERIFY(leave(file, "url=dev-host\n", prepared));
    if (shape == QLatin1String("replacing")) {
        QByteArray backup = prepared.temporaryName;
        QVERIFY(QFile::rename(
                file,
                QFileInfo(file).path() + u'/'
                        + QString::fromUtf8(backup.replace(".mirabex-dev-", ".mirabex-old-"))));
    }
    if (atClick) {
        PreparedFile config;
        QVERIFY(leave(SettingsFiles::configPath(),
                      readBytes(SettingsFiles::configPath()).replace("=prod", "=dev"), config));
    }
    QCOMPARE(entriesOf(QFileInfo(file).path()).size(), 2);
    if (changedSince)
        writeBytes(file, "url=prod-host\nmodifié depuis\n");
    QStringList entriesAfter{ QStringLiteral("app.ini") };
    if (shape == QLatin1String("removed")) {
        QVERIFY(QFile::remove(file));
        entriesAfter.clear();
    } else if (shape == QLatin1String("renamed")) {
        QVERIFY(QFile::rename(file, QFileInfo(file).path() + QStringLiteral("/app-renomme.ini")));
        entriesAfter = QStringList{ QStringLiteral("app-renomme.ini") };
    }
    if (atClick)
        click();
    else
        makeWindow();
    QCoreApplication::processEvents(); // the window settles what it finds once it can say so

    QCOMPARE(m_boxes->summaries(), QStringList{ summary });
    QCOMPARE(m_boxes->boxes().constFirst().parent.data(), m_window.get());
    if (!entriesAfter.isEmpty())
        QCOMPARE(readBytes(QFileInfo(file).path() + u'/' + entriesAfter.constFirst()),
                 expected.isEmpty() ? QByteArray("url=prod-host\n") : expected.toUtf8());
    QCOMPARE(entriesOf(QFileInfo(file).path()), entriesAfter);
    QCOMPARE(entriesOf(QFileInfo(SettingsFiles::configPath()).path())
                     .filter(QStringLiteral(".mirabex-")),
             QStringList());
    const QString header = environment == QLatin1String("dev") && !changedSince
                    && entriesAfter.value(0) == QLatin1String("app.ini")
            ? QStringLiteral("Fichier modifié : ")
            : QStringLiteral("Fichier non modifié : ");
    QVERIFY2(journalLines().join(u'\n').contains(header + displayed(file) + u'\n' + record),
             qPrintable(journalLines().join(u'\n')));
    // Settled once: the click that follows switches the tree as config.ini says.
    m_boxes->clear();
    click();
    QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
    QCOMPARE(m_window->isProdActive(), environment != QLatin1String("prod"));
}

// A tree of nested folders for the trials that run the real program, a third of its files holding
// values, with the program's settings naming it; and the program itself, started as the trials
// start it (see runAsProgram).
class TrialTree
{
public:
    explicit TrialTree(const QString &root, SettingsFiles &settings)
        : m_root(root), m_settings(settings)
    {
        for (int i = 0; i < 600; ++i) {
            QByteArray bytes = "# réglages " + QByteArray::number(i) + "\n";
            for (int line = 0; line < 40; ++line)
                bytes += "cle" + QByteArray::number(line) + "=valeur sans rien de particulier\n";
            if (i % 3 == 0)
                bytes += "url=jdbc://prod-host:5432/base" + QByteArray::number(i) + "\n";
            production.insert(QStringLiteral("d%1/e%2/f%3.ini").arg(i % 7).arg(i % 5).arg(i),
                              bytes);
        }
        m_settings.writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    }

    // The tree in production, config.ini naming it so.
    void write()
    {
        QVERIFY(QDir(m_root).removeRecursively());
        for (auto it = production.cbegin(); it != production.cend(); ++it)
            writeBytes(m_root + u'/' + it.key(), it.value());
        m_settings.writeConfig(m_root, QStringLiteral("*.ini"), QStringLiteral("prod"));
    }
    static void start(const QString &mode, QProcess &program,
                      const QString &executable = QCoreApplication::applicationFilePath(),
                      const QByteArray &inFlight = QByteArray())
    {
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (!inFlight.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("MIRABEX_REQUESTS_IN_FLIGHT"),
                               QString::fromLatin1(inFlight));
            program.setProcessEnvironment(environment);
        }
        program.start(executable, { mode });
        QVERIFY(program.waitForStarted());
    }
    // Switches the tree once, whole: development is what it then holds. Gives how long a run
    // lasts, in nanoseconds.
    qint64 switchWhole()
    {
        write();
        QProcess whole;
        start(QStringLiteral("--program-click"), whole);
        [&] { QVERIFY(whole.waitForReadyRead(60000)); }();
        QElapsedTimer timer;
        timer.start();
        [&] { QVERIFY(whole.waitForFinished(120000)); }();
        const qint64 runNs = timer.nsecsElapsed();
        [&] { QCOMPARE(whole.exitCode(), 0); }();
        development = snapshotTree(m_root);
        [&] { QVERIFY(development != production && development.size() == production.size()); }();
        return runNs;
    }
    // Whether the tree stands wholly in the environment config.ini names, with nothing left
    // beside its files nor beside config.ini.
    bool inOneEnvironment(bool *inDevelopment = nullptr) const
    {
        const bool named = readBytes(SettingsFiles::configPath()).contains("=dev");
        if (inDevelopment)
            *inDevelopment = named;
        const QDir settingsFolder = QFileInfo(SettingsFiles::configPath()).dir();
        return snapshotTree(m_root) == (named ? development : production)
                && settingsFolder
                           .entryList({ QStringLiteral(".mirabex-*") }, QDir::Files | QDir::Hidden)
                           .isEmpty();
    }
    static int trials(const char *variable, int byDefault)
    {
        const int asked = qEnvironmentVariableIntValue(variable);
        return asked > 0 ? asked : byDefault;
    }

    QMap<QString, QByteArray> production;
    QMap<QString, QByteArray> development;

private:
    QString m_root;
    SettingsFiles &m_settings;
};

// The real program, stopped by the system at random instants of a run: whatever the instant,
// either the tree stands wholly in the environment that config.ini names, or the next start
// says in a box that the last switch did not finish, and settles it so that it does.
void tst_SwitchFaults::programStoppedAtAnyInstant_treeInOneEnvironment()
{
    if (QSysInfo::kernelType() != QLatin1String("linux"))
        QSKIP("the signals that end a session are tried on Linux");
    TrialTree trial(tree(), *m_settings);
    const qint64 runNs = trial.switchWhole();
    if (QTest::currentTestFailed())
        return;
    const int trials = TrialTree::trials("MIRABEX_STOP_TRIALS", 20);
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("%d stops, seed %u, a run of %.0f ms", trials, seed, double(runNs) / 1e6);
    QRandomGenerator random(seed);
    int beforeCommit = 0, afterCommit = 0, settledAtStart = 0, politeInRun = 0;
    for (int stop = 0; stop < trials; ++stop) {
        trial.write();
        const bool hard = stop % 2 == 1;
        // Half the stops come with as many requests in flight as on a file share.
        QProcess program;
        TrialTree::start(QStringLiteral("--program-click"), program,
                         QCoreApplication::applicationFilePath(),
                         stop % 4 >= 2 ? QByteArray("48") : QByteArray());
        QVERIFY(program.waitForReadyRead(60000)); // the click comes now
        std::this_thread::sleep_for(
                std::chrono::nanoseconds(random.bounded(quint64(runNs * 11 / 10) + 1)));
        if (hard)
            program.kill();
        else
            program.terminate();
        QVERIFY(program.waitForFinished(120000));
        // A polite stop during a run ends the program once the run is abandoned or finished.
        if (!hard && program.exitStatus() == QProcess::NormalExit) {
            QVERIFY2(program.exitCode() == 128 + 15 || program.exitCode() == 0,
                     qPrintable(QString::number(program.exitCode())));
            politeInRun += program.exitCode() == 128 + 15;
        }
        QStringList boxes;
        if (hard) {
            QProcess restart;
            TrialTree::start(QStringLiteral("--program-start"), restart);
            QVERIFY(restart.waitForFinished(120000));
            QCOMPARE(restart.exitCode(), 0);
            boxes = QString::fromUtf8(restart.readAllStandardOutput())
                            .split(u'\n', Qt::SkipEmptyParts);
        }
        bool inDevelopment = false;
        QVERIFY2(trial.inOneEnvironment(&inDevelopment),
                 qPrintable(QStringLiteral("stop %1 left the tree in two environments").arg(stop)));
        QVERIFY2(boxes.size() <= 1, qPrintable(boxes.join(u'\n')));
        if (!boxes.isEmpty()) {
            QVERIFY2(boxes.constFirst().contains(QStringLiteral("ne s'est pas terminé")),
                     qPrintable(boxes.constFirst()));
            ++settledAtStart;
        }
        ++(inDevelopment ? afterCommit : beforeCommit);
    }
    qInfo("%d stops left the tree in production, %d in development; %d polite stops came during "
          "a run, %d hard stops were settled at the next start",
          beforeCommit, afterCommit, politeInRun, settledAtStart);
}

// A second window, started or clicked at a random instant of a run of the first: of the same
// installation (a double click too many, a colleague opening the same folder), or of another one
// that names the same tree. It neither settles nor switches what the first is doing, a click says
// so in one box, and the tree ends wholly in one environment, with nothing left beside its files.
void tst_SwitchFaults::secondWindowAtAnyInstant_oneRunAtATime()
{
    if (QSysInfo::kernelType() != QLatin1String("linux"))
        QSKIP("the trials time the real program on Linux");
    TrialTree trial(tree(), *m_settings);
    const qint64 runNs = trial.switchWhole();
    if (QTest::currentTestFailed())
        return;
    // Another installation: a copy of the program in a folder of its own, with its own settings.
    const QString otherFolder = m_dir->path() + QStringLiteral("/autre");
    const QString otherProgram = otherFolder + QStringLiteral("/mirabex");
    QVERIFY(QDir().mkpath(otherFolder));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), otherProgram));
    QVERIFY(QFile::setPermissions(otherProgram, QFile::ReadOwner | QFile::ExeOwner));
    writeBytes(otherFolder + QStringLiteral("/values.ini"), readBytes(SettingsFiles::valuesPath()));
    const QString otherConfig = otherFolder + QStringLiteral("/config.ini");

    const int trials = TrialTree::trials("MIRABEX_SECOND_WINDOW_TRIALS", 6);
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("%d second windows, seed %u, a run of %.0f ms", trials, seed, double(runNs) / 1e6);
    QRandomGenerator random(seed);
    const QString elsewhere = "Un échange de l'arborescence " + tree()
            + " est en cours dans une autre fenêtre de Mirabex";
    const auto boxesOf = [](QProcess &program) {
        return QString::fromUtf8(program.readAllStandardOutput())
                .split(u'\n', Qt::SkipEmptyParts)
                .filter(QRegularExpression(QStringLiteral("^(?!click$)")));
    };
    int refused = 0, switchedBack = 0;
    for (int second = 0; second < trials; ++second) {
        trial.write();
        const bool installation = second % 3 == 2;
        const bool clicks = second % 3 != 1;
        writeBytes(otherConfig, readBytes(SettingsFiles::configPath()));
        QProcess first, other;
        TrialTree::start(QStringLiteral("--program-click"), first);
        QVERIFY(first.waitForReadyRead(60000)); // the click comes now
        (void)first.readAllStandardOutput();
        std::this_thread::sleep_for(
                std::chrono::nanoseconds(random.bounded(quint64(runNs * 11 / 10) + 1)));
        TrialTree::start(
                clicks ? QStringLiteral("--program-click") : QStringLiteral("--program-start"),
                other, installation ? otherProgram : QCoreApplication::applicationFilePath());
        QVERIFY(first.waitForFinished(120000));
        QVERIFY(other.waitForFinished(120000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(other.exitCode(), 0);
        const QStringList firstBoxes = boxesOf(first);
        const QStringList boxes = boxesOf(other) + firstBoxes;
        bool inDevelopment = false;
        const bool named = trial.inOneEnvironment(&inDevelopment);
        const QMap<QString, QByteArray> now = snapshotTree(tree());
        // Another installation keeps its own config.ini, which names what its own click did.
        const bool otherNamed = installation
                && (now == trial.production || now == trial.development)
                && readBytes(otherConfig).contains("=dev") == (now == trial.development)
                && QDir(otherFolder)
                           .entryList({ QStringLiteral(".mirabex-*") }, QDir::Files | QDir::Hidden)
                           .isEmpty();
        QVERIFY2(named || otherNamed,
                 qPrintable(QStringLiteral("window %1 left the tree in two environments: %2")
                                    .arg(second)
                                    .arg(boxes.join(u'\n'))));
        // The first run goes to its end, whatever the second window does, unless the two
        // installations met in the middle of their runs: then one of them gave way.
        QVERIFY2(boxes.size() <= 1 && (firstBoxes.isEmpty() || installation),
                 qPrintable(boxes.join(u'\n')));
        if (!boxes.isEmpty()) {
            QVERIFY2(clicks && boxes.constFirst().contains(elsewhere),
                     qPrintable(boxes.join(u'\n')));
            ++refused;
        }
        // A click after the first run ended switches the tree back.
        switchedBack += named && !inDevelopment;
    }
    qInfo("%d clicks were refused while the first window switched the tree, %d switched it back "
          "after it",
          refused, switchedBack);
}

void tst_SwitchFaults::folderMountedBelowItself_walkedOnce()
{
#ifdef Q_OS_LINUX
    // The tree mounted again inside itself: no link says so, only the folder's identity.
    writeBytes(tree() + QStringLiteral("/app.ini"), "url=prod-host\n");
    const QString mountPoint = tree() + QStringLiteral("/sous/miroir");
    QVERIFY(QDir().mkpath(mountPoint));
    if (::mount(QFile::encodeName(tree()).constData(), QFile::encodeName(mountPoint).constData(),
                nullptr, MS_BIND, nullptr)
        != 0)
        QSKIP(qPrintable(QStringLiteral("a folder cannot be mounted here: ")
                         + QString::fromLocal8Bit(std::strerror(errno))));
    const auto unmount =
            qScopeGuard([&] { ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH); });
    m_settings->writeConfig(tree(), QStringLiteral("*.ini"), QStringLiteral("prod"));
    m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    makeWindow();
    click();

    QCOMPARE(m_window->collectedFiles(), QStringList{ tree() + QStringLiteral("/app.ini") });
    QCOMPARE(readBytes(tree() + QStringLiteral("/app.ini")), QByteArray("url=dev-host\n"));
    QVERIFY(m_boxes->boxes().isEmpty());
#else
    QSKIP("mounting is tried on Linux only");
#endif
}

// The real program, as the stop test starts it: "--program-click" clicks "Échanger les valeurs"
// once the window is up (after a line on the standard output) and quits once the run is over;
// "--program-start" only lets the window start, and writes the boxes it showed, one a line.
int runAsProgram(int argc, char *argv[], bool click)
{
    QApplication app(argc, argv);
    MessageBoxWatcher boxes;
    // Quitting ends every event loop, a box's too: the program quits once no box is left.
    std::function<void()> quitOnceIdle = [&] {
        if (QApplication::activeModalWidget())
            QTimer::singleShot(10, &app, quitOnceIdle);
        else
            QCoreApplication::quit();
    };
    QTimer::singleShot(0, &app, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *button = widget->findChild<QPushButton *>(QStringLiteral("pushButton"));
            if (button && click) {
                std::fputs("click\n", stdout);
                std::fflush(stdout);
                button->click();
            }
        }
        // After what the window queued as it was built.
        QTimer::singleShot(0, &app, quitOnceIdle);
    });
    const int status = runMirabex(app);
    for (const QString &summary : boxes.summaries())
        std::puts(summary.toUtf8().replace('\n', ' ').constData());
    return status;
}

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--program-click") == 0)
        return runAsProgram(argc, argv, true);
    if (argc == 2 && qstrcmp(argv[1], "--program-start") == 0)
        return runAsProgram(argc, argv, false);
    QApplication app(argc, argv);
    tst_SwitchFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_switchfaults.moc"
