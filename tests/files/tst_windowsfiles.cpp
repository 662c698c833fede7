// What is Windows' own in the handling of files: what a file replaced in place keeps on NTFS, a
// file that cannot be replaced, files known by their volume and index whatever the spelling of
// their path, links, paths longer than 260 characters, and a tree named in every form Windows
// gives a folder, on a share too. Runs under Wine as on Windows; a row whose condition Wine cannot
// make skips and says so.
//
// The share is the one that MIRABEX_TEST_SHARE names ("\\serveur\partage"), a share of the tests'
// own, which they write at its root: scripts/wine-run.sh gives Wine one. Without it the rows on a
// share skip.

#include "windowfixture.h"

#include "files/rewrite.h"
#include "files/systempath_windows.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

DWORD attributesOf(const QString &path)
{
    return ::GetFileAttributesW(native(path).c_str());
}

// Sets the creation time of a file; false when the file system does not keep it.
bool setCreationTime(const QString &path, const FILETIME &created)
{
    const HANDLE file =
            ::CreateFileW(native(path).c_str(), FILE_WRITE_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool set = ::SetFileTime(file, &created, nullptr, nullptr);
    ::CloseHandle(file);
    return set;
}

FILETIME creationTimeOf(const QString &path)
{
    FILETIME created{};
    const HANDLE file =
            ::CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ::GetFileTime(file, &created, nullptr, nullptr);
    ::CloseHandle(file);
    return created;
}

} // namespace

class tst_WindowsFiles : public WindowFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { initFixture(); }
    void cleanup() { cleanupFixture(); }
    void rewriteKeepsWhatTheFileHad_data();
    void rewriteKeepsWhatTheFileHad();
    void fileThatCannotBeReplacedKeepsItsBytes_data();
    void fileThatCannotBeReplacedKeepsItsBytes();
    void settingsFilesKnownWhateverTheSpelling();
    void linksSwitchedOnceAndNotWalkedInCircles();
    void pathLongerThan260Characters();
    void treeNamedInEveryForm_data();
    void treeNamedInEveryForm();

private:
    QString file() const { return tree() + QStringLiteral("/app.ini"); }
    void settle(const QString &mainDir)
    {
        m_settings->writeConfig(mainDir, QStringLiteral("*.ini"), QStringLiteral("prod"));
        m_settings->writeValues({ { QStringLiteral("prod-host"), QStringLiteral("dev-host") } });
    }
};

void tst_WindowsFiles::rewriteKeepsWhatTheFileHad_data()
{
    QTest::addColumn<QString>("kept");
    QTest::newRow("hidden and archive attributes") << "attributes";
    QTest::newRow("alternate data stream") << "stream";
    QTest::newRow("creation time") << "creation";
}

void tst_WindowsFiles::rewriteKeepsWhatTheFileHad()
{
    QFETCH(QString, kept);
    writeBytes(file(), "hote=prod-host\n");
    const QString stream = file() + QStringLiteral(":note");
    if (kept == u"attributes") {
        QVERIFY(::SetFileAttributesW(native(file()).c_str(),
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    } else if (kept == u"stream") {
        QFile note(stream);
        if (!note.open(QIODevice::WriteOnly) || note.write("remarque") != 8)
            QSKIP("This file system keeps no alternate data stream (Wine on a Unix file system).");
    }
    // 1 January 2001.
    const FILETIME created{ 0x8B7BC000, 0x01C07385 };
    if (kept == u"creation"
        && (!setCreationTime(file(), created)
            || creationTimeOf(file()).dwLowDateTime != created.dwLowDateTime))
        QSKIP("This file system keeps no creation time of its own (Wine on a Unix file system).");
    settle(tree());
    makeWindow();
    click();

    QCOMPARE(readBytes(file()), QByteArray("hote=dev-host\r\n"));
    if (kept == u"attributes") {
        QCOMPARE(attributesOf(file()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
                 DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    } else if (kept == u"stream") {
        QCOMPARE(readBytes(stream), QByteArray("remarque"));
    } else {
        const FILETIME after = creationTimeOf(file());
        QCOMPARE(after.dwHighDateTime, created.dwHighDateTime);
        QCOMPARE(after.dwLowDateTime, created.dwLowDateTime);
    }
}

void tst_WindowsFiles::fileThatCannotBeReplacedKeepsItsBytes_data()
{
    QTest::addColumn<bool>("heldOpen");
    QTest::newRow("read-only") << false;
    QTest::newRow("held open by another program that lets it be read only") << true;
}

void tst_WindowsFiles::fileThatCannotBeReplacedKeepsItsBytes()
{
    QFETCH(bool, heldOpen);
    writeBytes(file(), "hote=prod-host\n");
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (heldOpen) {
        holder = ::CreateFileW(native(file()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        QVERIFY(holder != INVALID_HANDLE_VALUE);
    } else {
        QVERIFY(::SetFileAttributesW(native(file()).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    settle(tree());
    makeWindow();
    click();
    if (heldOpen)
        ::CloseHandle(holder);
    else
        ::SetFileAttributesW(native(file()).c_str(), FILE_ATTRIBUTE_NORMAL);

    QCOMPARE(readBytes(file()), QByteArray("hote=prod-host\n"));
    // Windows refuses to open a read-only file for writing, and the file is left before anything
    // is prepared. Wine run by root opens it, and only the replacement fails, once config.ini is
    // written: the closing box alone then counts the file.
    if (m_boxes->summaries() != QStringList{ leftBehindSummary(1, 0) })
        QCOMPARE(m_boxes->summaries(),
                 (QStringList{ QStringLiteral("Erreur | Modification non prise en compte, "
                                              "vérifier l'accès au fichier ")
                                       + file(),
                               leftBehindSummary(1, 0) }));
}

void tst_WindowsFiles::settingsFilesKnownWhateverTheSpelling()
{
    // The tree is the program's own folder, named in capitals and with backslashes.
    const QString folder = QCoreApplication::applicationDirPath();
    settle(QDir::toNativeSeparators(folder).toUpper());
    const QByteArray values = readBytes(SettingsFiles::valuesPath());
    makeWindow();
    click();
    QCOMPARE(readBytes(SettingsFiles::valuesPath()), values);
    QVERIFY(readBytes(SettingsFiles::configPath()).endsWith("Environnement=dev\r\n"));
    QCOMPARE(readBytes(SettingsFiles::configPath()).count("dev"), 1);
}

void tst_WindowsFiles::linksSwitchedOnceAndNotWalkedInCircles()
{
    writeBytes(file(), "hote=prod-host\n");
    QVERIFY(QDir(tree()).mkdir(QStringLiteral("sous")));
    const QString fileLink = tree() + QStringLiteral("/sous/lien.ini");
    const QString folderLink = tree() + QStringLiteral("/sous/retour");
    if (!::CreateSymbolicLinkW(native(fileLink).c_str(), native(file()).c_str(), 0)
        || !::CreateSymbolicLinkW(native(folderLink).c_str(), native(tree()).c_str(),
                                  SYMBOLIC_LINK_FLAG_DIRECTORY))
        QSKIP("Symbolic links cannot be made here (no right to, or Wine lacks them).");
    settle(tree());
    makeWindow();
    click();
    // Switched once: a second pass would find no value, but would leave a second record.
    QCOMPARE(readBytes(file()), QByteArray("hote=dev-host\r\n"));
    QCOMPARE(journalLines().filter(QStringLiteral("Avant : hote=prod-host")).size(), 1);
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_WindowsFiles::pathLongerThan260Characters()
{
    QString folder = tree();
    while (folder.size() < 300)
        folder += QStringLiteral("/dossier-assez-long-pour-depasser");
    if (!QDir().mkpath(folder))
        QSKIP("This system cannot make a folder whose path passes 260 characters.");
    const QString deep = folder + QStringLiteral("/app.ini");
    writeBytes(deep, "hote=prod-host\n");
    settle(tree());
    makeWindow();
    click();
    QCOMPARE(readBytes(deep), QByteArray("hote=dev-host\r\n"));
    QVERIFY(m_boxes->boxes().isEmpty());
}

void tst_WindowsFiles::treeNamedInEveryForm_data()
{
    // Where the tree lies: in a folder of a drive, in a folder of a share, or at the share's root;
    // and whether MainDir= names it in the long form ("\\?\C:\...", "\\?\UNC\server\share\...").
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("longForm");
    QTest::newRow("drive path") << "drive" << false;
    QTest::newRow("drive path, long form") << "drive" << true;
    QTest::newRow("share") << "share" << false;
    QTest::newRow("share, long form") << "share" << true;
    QTest::newRow("file at the share's root") << "root" << false;
    QTest::newRow("file at the share's root, long form") << "root" << true;
}

void tst_WindowsFiles::treeNamedInEveryForm()
{
    QFETCH(QString, where);
    QFETCH(bool, longForm);
    QString folder = tree();
    std::unique_ptr<QTemporaryDir> onShare;
    if (where != u"drive") {
        folder = QDir::fromNativeSeparators(qEnvironmentVariable("MIRABEX_TEST_SHARE"));
        if (folder.isEmpty())
            QSKIP("No share of the tests': MIRABEX_TEST_SHARE names none.");
        if (!QFileInfo(folder).isDir())
            QSKIP(qPrintable(u"The share "_s + folder + u" cannot be reached."_s));
        if (where == u"share") {
            onShare = std::make_unique<QTemporaryDir>(folder + u"/dossier-XXXXXX"_s);
            QVERIFY(onShare->isValid());
            folder = onShare->path();
        }
    }
    const QString app = folder + u"/app.ini"_s;
    const QString db = folder + u"/sous/db.ini"_s;
    const auto removeTree = qScopeGuard([&] {
        QFile::remove(app);
        QDir(folder + u"/sous"_s).removeRecursively();
    });
    writeBytes(app, "hote=prod-host\n");
    writeBytes(db, "url=prod-host/db\n");
    QString mainDir = QDir::toNativeSeparators(folder);
    if (longForm)
        mainDir = mainDir.startsWith(u"\\\\"_s) ? u"\\\\?\\UNC"_s + mainDir.sliced(1)
                                                : u"\\\\?\\"_s + mainDir;
    settle(mainDir);
    // What a run stopped half-way left beside app.ini, found and removed at the start.
    PreparedFile left;
    QVERIFY(Rewrite(app, false, fileStamp(app)).prepare(left));
    makeWindow();
    QCoreApplication::processEvents();
    QCOMPARE(m_boxes->summaries().size(), 1);
    QVERIFY(m_boxes->summaries().constFirst().contains(u"Versions préparées supprimées : 1"_s));
    m_boxes->clear();
    // Windows opens the root of a share only with its final backslash (Wine either way).
    if (where == u"root")
        QCOMPARE(systemPath(folder).back(), L'\\');
    // There and back: the files, the journal's paths (the short form) and nothing left beside.
    for (const QByteArray host : { "dev-host", "prod-host" }) {
        journal()->clear();
        click();
        QVERIFY2(m_boxes->boxes().isEmpty(), qPrintable(m_boxes->summaries().join(u'\n')));
        QCOMPARE(readBytes(app), "hote=" + host + "\r\n");
        QCOMPARE(readBytes(db), "url=" + host + "/db\r\n");
        QCOMPARE(journalLines().filter(u"Fichier modifié : "_s),
                 (QStringList{ u"Fichier modifié : "_s + displayed(SettingsFiles::configPath()),
                               u"Fichier modifié : "_s + displayed(db),
                               u"Fichier modifié : "_s + displayed(app) }));
        QCOMPARE(entriesOf(folder), (QStringList{ u"app.ini"_s, u"sous"_s }));
        QCOMPARE(entriesOf(folder + u"/sous"_s), QStringList{ u"db.ini"_s });
    }
}

QTEST_MAIN(tst_WindowsFiles)
#include "tst_windowsfiles.moc"
