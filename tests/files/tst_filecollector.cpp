// Collecting the files to switch from a real directory tree: order, filters, path forms, links
// and entries that are not regular files.

#include "files/filecollector.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/types.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// Builds a tree under root from entries written as:
//   "a/b.ini"        a regular file (its folders are made as needed)
//   "a/empty/"       a directory
//   "a/l -> target"  a symbolic link to target, written as is ("<tmp>" stands for root)
//   "a/pipe |"       a FIFO
// Returns an empty string, or what could not be made.
QString buildTree(const QString &root, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const qsizetype arrow = entry.indexOf(u" -> "_s);
        if (arrow >= 0) {
            const QString path = root + u'/' + entry.left(arrow);
            QString target = entry.mid(arrow + 4);
            target.replace(u"<tmp>"_s, root);
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (!QFile::link(target, path))
                return u"link "_s + entry;
        } else if (entry.endsWith(u" |"_s)) {
#ifdef Q_OS_UNIX
            const QString path = root + u'/' + entry.chopped(2);
            QDir().mkpath(QFileInfo(path).absolutePath());
            if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
                return u"fifo "_s + entry;
#else
            return u"fifo "_s + entry;
#endif
        } else if (entry.endsWith(u'/')) {
            if (!QDir().mkpath(root + u'/' + entry))
                return u"directory "_s + entry;
        } else {
            writeBytes(root + u'/' + entry, "value=prod\n");
        }
    }
    return QString();
}

QStringList withRoot(QStringList paths, const QString &root)
{
    for (QString &path : paths)
        path.replace(u"<tmp>"_s, root);
    return paths;
}

// Restores the working directory when it goes, even after a failed check.
class CurrentDirectoryGuard
{
public:
    CurrentDirectoryGuard() : m_saved(QDir::currentPath()) { }
    ~CurrentDirectoryGuard() { QDir::setCurrent(m_saved); }
    CurrentDirectoryGuard(const CurrentDirectoryGuard &) = delete;
    CurrentDirectoryGuard &operator=(const CurrentDirectoryGuard &) = delete;

private:
    QString m_saved;
};

} // namespace

class tst_FileCollector : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void collectsMatchingFiles_data();
    void collectsMatchingFiles();
    void followsLinks_data();
    void followsLinks();
    void skipsWhatIsNotAFile_data();
    void skipsWhatIsNotAFile();
    void relativeDirectoryStaysRelative_data();
    void relativeDirectoryStaysRelative();

private:
    void addTreeColumns();
    void runTreeRow();
};

void tst_FileCollector::addTreeColumns()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<bool>("recurse");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("alreadyListed");
    QTest::addColumn<QStringList>("expected");
}

void tst_FileCollector::runTreeRow()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, directory);
    QFETCH(bool, recurse);
    QFETCH(QString, filter);
    QFETCH(QStringList, alreadyListed);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString root = dir.path();
    const QString problem = buildTree(root, tree);
    QVERIFY2(problem.isEmpty(), qPrintable(u"cannot make "_s + problem));

    QStringList fileList = withRoot(alreadyListed, root);
    collectFiles(directory.replace(u"<tmp>"_s, root), fileList, recurse, filter);
    QCOMPARE(fileList, withRoot(expected, root));
}

void tst_FileCollector::collectsMatchingFiles_data()
{
    addTreeColumns();

    const QStringList site = { u"site/app.ini"_s, u"site/readme.txt"_s, u"site/bin/run.xml"_s,
                               u"site/Conf/db.INI"_s, u"site/Conf/old/x.ini"_s };
    const QStringList siteExpected = { u"<tmp>/site/bin/run.xml"_s, u"<tmp>/site/Conf/old/x.ini"_s,
                                       u"<tmp>/site/Conf/db.INI"_s, u"<tmp>/site/app.ini"_s };
    QTest::newRow("tree walked: sub-directories first, then files")
            << site << u"<tmp>/site"_s << true << u"*.ini;*.xml"_s << QStringList() << siteExpected;
    QTest::newRow("backslash separator turned to slash")
            << site << u"<tmp>\\site"_s << true << u"*.ini;*.xml"_s << QStringList()
            << siteExpected;
    QTest::newRow("trailing slash: same entries")
            << site << u"<tmp>/site/"_s << true << u"*.ini;*.xml"_s << QStringList()
            << siteExpected;
    QTest::newRow("trailing backslash: one slash")
            << site << u"<tmp>/site\\"_s << true << u"*.ini;*.xml"_s << QStringList()
            << siteExpected;
    QTest::newRow("no recursion: top-level files only")
            << site << u"<tmp>/site"_s << false << u"*.ini;*.xml"_s << QStringList()
            << QStringList{ u"<tmp>/site/app.ini"_s };

    const QStringList mixedCase = { u"d/c.ini"_s, u"d/B.ini"_s, u"d/a.ini"_s, u"d/sub/z.ini"_s };
    QTest::newRow("no recursion: name order ignoring case")
            << mixedCase << u"<tmp>/d"_s << false << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/d/a.ini"_s, u"<tmp>/d/B.ini"_s, u"<tmp>/d/c.ini"_s };
    QTest::newRow("sub-directories in name order ignoring case, then files")
            << QStringList{ u"t/y.ini"_s,   u"t/c/3.ini"_s, u"t/Z.ini"_s,
                            u"t/b/1.ini"_s, u"t/A/2.ini"_s, u"t/_/0.ini"_s }
            << u"<tmp>/t"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/_/0.ini"_s, u"<tmp>/t/A/2.ini"_s, u"<tmp>/t/b/1.ini"_s,
                            u"<tmp>/t/c/3.ini"_s, u"<tmp>/t/y.ini"_s,   u"<tmp>/t/Z.ini"_s };
    QTest::newRow("deep tree, depth first")
            << QStringList{ u"r/a/b/c/d.ini"_s, u"r/a/b/e.ini"_s, u"r/a/f.ini"_s, u"r/g.ini"_s,
                            u"r/h/i.ini"_s }
            << u"<tmp>/r"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/r/a/b/c/d.ini"_s, u"<tmp>/r/a/b/e.ini"_s, u"<tmp>/r/a/f.ini"_s,
                            u"<tmp>/r/h/i.ini"_s, u"<tmp>/r/g.ini"_s };

    // Filters
    const QStringList various = { u"f/app.ini"_s, u"f/run.xml"_s, u"f/.env"_s,
                                  u"f/noext"_s,   u"f/trail."_s,  u"f/ARCHIVE.TAR.GZ"_s };
    QTest::newRow("catch-all patterns collect every file, hidden ones too")
            << various << u"<tmp>/f"_s << false << u"*;*.*;.*;*."_s << QStringList()
            << QStringList{ u"<tmp>/f/.env"_s,           u"<tmp>/f/app.ini"_s,
                            u"<tmp>/f/ARCHIVE.TAR.GZ"_s, u"<tmp>/f/noext"_s,
                            u"<tmp>/f/run.xml"_s,        listedPath(u"<tmp>/f/trail."_s) };
    QTest::newRow("star alone collects hidden files")
            << various << u"<tmp>/f"_s << false << u"*"_s << QStringList()
            << QStringList{ u"<tmp>/f/.env"_s,           u"<tmp>/f/app.ini"_s,
                            u"<tmp>/f/ARCHIVE.TAR.GZ"_s, u"<tmp>/f/noext"_s,
                            u"<tmp>/f/run.xml"_s,        listedPath(u"<tmp>/f/trail."_s) };
    QTest::newRow("hidden files by their own pattern")
            << various << u"<tmp>/f"_s << false << u".*"_s << QStringList()
            << QStringList{ u"<tmp>/f/.env"_s };
    QTest::newRow("empty filter collects nothing")
            << various << u"<tmp>/f"_s << true << QString() << QStringList() << QStringList();
    QTest::newRow("space after the separator is part of the pattern")
            << various << u"<tmp>/f"_s << false << u"*.ini; *.xml"_s << QStringList()
            << QStringList{ u"<tmp>/f/app.ini"_s };
    QTest::newRow("empty pattern between two others is harmless")
            << various << u"<tmp>/f"_s << false << u"*.ini;;*.xml"_s << QStringList()
            << QStringList{ u"<tmp>/f/app.ini"_s, u"<tmp>/f/run.xml"_s };
    QTest::newRow("pattern case ignored: *.INI")
            << various << u"<tmp>/f"_s << false << u"*.INI"_s << QStringList()
            << QStringList{ u"<tmp>/f/app.ini"_s };
    QTest::newRow("pattern case ignored: *.tar.gz")
            << various << u"<tmp>/f"_s << false << u"*.tar.gz"_s << QStringList()
            << QStringList{ u"<tmp>/f/ARCHIVE.TAR.GZ"_s };
    QTest::newRow("exact file name") << various << u"<tmp>/f"_s << false << u"app.ini"_s
                                     << QStringList() << QStringList{ u"<tmp>/f/app.ini"_s };
    QTest::newRow("question mark matches one character")
            << QStringList{ u"q/a1.ini"_s, u"q/a12.ini"_s } << u"<tmp>/q"_s << false << u"a?.ini"_s
            << QStringList() << QStringList{ u"<tmp>/q/a1.ini"_s };
    QTest::newRow("sets, negated, with a range, by folded case; a run of stars; a set left open")
            << QStringList{ u"s/a1.ini"_s, u"s/B2.ini"_s, u"s/c3.ini"_s,
                            u"s/]x.ini"_s, u"s/d.xml"_s,  u"s/k.txt"_s }
            << u"<tmp>/s"_s << false << u"[ab]*.ini;[!a-c]?.ini;****d.x*ml;c3[.ini;[\u212A].txt"_s
            << QStringList()
            << QStringList{ u"<tmp>/s/]x.ini"_s, u"<tmp>/s/a1.ini"_s, u"<tmp>/s/B2.ini"_s,
                            u"<tmp>/s/d.xml"_s, u"<tmp>/s/k.txt"_s };
    QTest::newRow("directory matching the filter is walked, not listed")
            << QStringList{ u"m/conf.ini/inner.ini"_s, u"m/top.ini"_s } << u"<tmp>/m"_s << true
            << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/m/conf.ini/inner.ini"_s, u"<tmp>/m/top.ini"_s };
#ifdef Q_OS_UNIX
    QTest::newRow("directory whose name holds a backslash walked as it is")
            << QStringList{ u"m/a\\b/x.ini"_s, u"m/a/b/y.ini"_s } << u"<tmp>/m"_s << true
            << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/m/a/b/y.ini"_s, u"<tmp>/m/a\\b/x.ini"_s };
#endif
    QTest::newRow("directories whose names do not match are walked")
            << QStringList{ u"m/bin/a.ini"_s } << u"<tmp>/m"_s << true << u"*.ini"_s
            << QStringList() << QStringList{ u"<tmp>/m/bin/a.ini"_s };

    // What is already listed, and empty places
    QTest::newRow("entries already listed stay first")
            << QStringList{ u"k/b.ini"_s, u"k/a.ini"_s } << u"<tmp>/k"_s << false << u"*.ini"_s
            << QStringList{ u"z/first.ini"_s, u"<tmp>/k/a.ini"_s }
            << QStringList{ u"z/first.ini"_s, u"<tmp>/k/a.ini"_s, u"<tmp>/k/a.ini"_s,
                            u"<tmp>/k/b.ini"_s };
    QTest::newRow("entries already listed kept when nothing matches")
            << QStringList{ u"k/b.txt"_s } << u"<tmp>/k"_s << true << u"*.ini"_s
            << QStringList{ u"first"_s } << QStringList{ u"first"_s };
    QTest::newRow("empty sub-directory adds nothing")
            << QStringList{ u"e/empty/"_s, u"e/a.ini"_s } << u"<tmp>/e"_s << true << u"*"_s
            << QStringList() << QStringList{ u"<tmp>/e/a.ini"_s };
    QTest::newRow("sub-directory holding only sub-directories")
            << QStringList{ u"e/only/one/1.ini"_s, u"e/only/two/2.ini"_s, u"e/only/void/"_s }
            << u"<tmp>/e"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/e/only/one/1.ini"_s, u"<tmp>/e/only/two/2.ini"_s };
    QTest::newRow("empty directory") << QStringList{ u"e/"_s } << u"<tmp>/e"_s << true << u"*"_s
                                     << QStringList() << QStringList();
    QTest::newRow("missing directory collects nothing")
            << QStringList{ u"e/a.ini"_s } << u"<tmp>/missing"_s << true << u"*"_s
            << QStringList{ u"kept"_s } << QStringList{ u"kept"_s };
    QTest::newRow("a file given as the directory collects nothing")
            << QStringList{ u"e/a.ini"_s } << u"<tmp>/e/a.ini"_s << true << u"*"_s << QStringList()
            << QStringList();
}

void tst_FileCollector::collectsMatchingFiles()
{
    runTreeRow();
}

void tst_FileCollector::followsLinks_data()
{
    addTreeColumns();

    QTest::newRow("link to a file listed under the link's path")
            << QStringList{ u"t/real.ini"_s, u"t/alias.ini -> real.ini"_s } << u"<tmp>/t"_s << true
            << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/alias.ini"_s, u"<tmp>/t/real.ini"_s };
    QTest::newRow("link to a file outside the tree")
            << QStringList{ u"elsewhere/o.ini"_s, u"t/o.ini -> ../elsewhere/o.ini"_s }
            << u"<tmp>/t"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/o.ini"_s };
    QTest::newRow("link to a sibling directory walked under both paths")
            << QStringList{ u"t/a/x.ini"_s, u"t/b -> a"_s } << u"<tmp>/t"_s << true << u"*.ini"_s
            << QStringList() << QStringList{ u"<tmp>/t/a/x.ini"_s, u"<tmp>/t/b/x.ini"_s };
    QTest::newRow("link to a directory outside the tree walked")
            << QStringList{ u"outside/deep/o.ini"_s, u"t/top.ini"_s, u"t/ext -> ../outside"_s }
            << u"<tmp>/t"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/ext/deep/o.ini"_s, u"<tmp>/t/top.ini"_s };
    QTest::newRow("top directory given through a link")
            << QStringList{ u"real/a/x.ini"_s, u"real/y.ini"_s, u"via -> real"_s } << u"<tmp>/via"_s
            << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/via/a/x.ini"_s, u"<tmp>/via/y.ini"_s };

    // Links back up the tree are not entered: the walk ends and lists each file once.
    QTest::newRow("link to the parent directory")
            << QStringList{ u"t/a/x.ini"_s, u"t/top.ini"_s, u"t/a/loop -> .."_s } << u"<tmp>/t"_s
            << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/a/x.ini"_s, u"<tmp>/t/top.ini"_s };
    QTest::newRow("link to the top directory by absolute path")
            << QStringList{ u"t/a/x.ini"_s, u"t/top.ini"_s, u"t/a/loop -> <tmp>/t"_s }
            << u"<tmp>/t"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/a/x.ini"_s, u"<tmp>/t/top.ini"_s };
    QTest::newRow("link two levels up")
            << QStringList{ u"t/a/b/y.ini"_s, u"t/a/x.ini"_s, u"t/top.ini"_s,
                            u"t/a/b/up -> ../.."_s }
            << u"<tmp>/t"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/a/b/y.ini"_s, u"<tmp>/t/a/x.ini"_s, u"<tmp>/t/top.ini"_s };
    QTest::newRow("link to itself: the directory it stands in")
            << QStringList{ u"t/x.ini"_s, u"t/self -> ."_s } << u"<tmp>/t"_s << true << u"*.ini"_s
            << QStringList() << QStringList{ u"<tmp>/t/x.ini"_s };
    QTest::newRow("link to the parent, top directory given with a trailing slash")
            << QStringList{ u"t/a/x.ini"_s, u"t/a/loop -> .."_s } << u"<tmp>/t/"_s << true
            << u"*.ini"_s << QStringList() << QStringList{ u"<tmp>/t/a/x.ini"_s };
    QTest::newRow("link to the parent, top directory given through a link")
            << QStringList{ u"t/a/x.ini"_s, u"t/a/loop -> .."_s, u"via -> t"_s } << u"<tmp>/via"_s
            << true << u"*.ini"_s << QStringList() << QStringList{ u"<tmp>/via/a/x.ini"_s };
    // Each directory is entered once more through the other's link, then the link back is
    // recognised as leading to a directory being walked.
    QTest::newRow("two sibling directories linking to each other")
            << QStringList{ u"t/a/x.ini"_s, u"t/b/y.ini"_s, u"t/a/tob -> ../b"_s,
                            u"t/b/toa -> ../a"_s }
            << u"<tmp>/t"_s << true << u"*.ini"_s << QStringList()
            << QStringList{ u"<tmp>/t/a/tob/y.ini"_s, u"<tmp>/t/a/x.ini"_s,
                            u"<tmp>/t/b/toa/x.ini"_s, u"<tmp>/t/b/y.ini"_s };
    QTest::newRow("no recursion: linked directory not walked")
            << QStringList{ u"t/a/x.ini"_s, u"t/b -> a"_s, u"t/top.ini"_s } << u"<tmp>/t"_s << false
            << u"*.ini"_s << QStringList() << QStringList{ u"<tmp>/t/top.ini"_s };
}

void tst_FileCollector::followsLinks()
{
#ifndef Q_OS_UNIX
    QSKIP("symbolic links are made the POSIX way");
#endif
    runTreeRow();
}

void tst_FileCollector::skipsWhatIsNotAFile_data()
{
    addTreeColumns();

    QTest::newRow("broken link not collected")
            << QStringList{ u"t/ok.ini"_s, u"t/dangling.ini -> missing.ini"_s } << u"<tmp>/t"_s
            << true << u"*"_s << QStringList() << QStringList{ u"<tmp>/t/ok.ini"_s };
    QTest::newRow("broken link to a directory not walked")
            << QStringList{ u"t/ok.ini"_s, u"t/gone -> missing/"_s } << u"<tmp>/t"_s << true
            << u"*"_s << QStringList() << QStringList{ u"<tmp>/t/ok.ini"_s };
    QTest::newRow("link to itself not collected")
            << QStringList{ u"t/ok.ini"_s, u"t/me.ini -> me.ini"_s } << u"<tmp>/t"_s << true
            << u"*"_s << QStringList() << QStringList{ u"<tmp>/t/ok.ini"_s };
    QTest::newRow("FIFO not collected")
            << QStringList{ u"t/ok.ini"_s, u"t/pipe.ini |"_s } << u"<tmp>/t"_s << true << u"*"_s
            << QStringList() << QStringList{ u"<tmp>/t/ok.ini"_s };
    QTest::newRow("link to a FIFO not collected")
            << QStringList{ u"t/ok.ini"_s, u"pipe |"_s, u"t/p.ini -> ../pipe"_s } << u"<tmp>/t"_s
            << true << u"*"_s << QStringList() << QStringList{ u"<tmp>/t/ok.ini"_s };
#ifdef Q_OS_LINUX
    QTest::newRow("link to a device not collected")
            << QStringList{ u"t/ok.ini"_s, u"t/null.ini -> /dev/null"_s } << u"<tmp>/t"_s << true
            << u"*"_s << QStringList() << QStringList{ u"<tmp>/t/ok.ini"_s };
#endif
    QTest::newRow("link to a link to a file collected")
            << QStringList{ u"t/ok.ini"_s, u"t/l1.ini -> ok.ini"_s, u"t/l2.ini -> l1.ini"_s }
            << u"<tmp>/t"_s << true << u"*"_s << QStringList()
            << QStringList{ u"<tmp>/t/l1.ini"_s, u"<tmp>/t/l2.ini"_s, u"<tmp>/t/ok.ini"_s };
}

void tst_FileCollector::skipsWhatIsNotAFile()
{
#ifndef Q_OS_UNIX
    QSKIP("links and FIFOs are made the POSIX way");
#endif
    runTreeRow();
}

void tst_FileCollector::relativeDirectoryStaysRelative_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("name only") << u"data"_s << QStringList{ u"data/sub/b.ini"_s, u"data/a.ini"_s };
    QTest::newRow("name with a trailing slash")
            << u"data/"_s << QStringList{ u"data/sub/b.ini"_s, u"data/a.ini"_s };
    QTest::newRow("dot slash kept")
            << u"./data"_s << QStringList{ u"./data/sub/b.ini"_s, u"./data/a.ini"_s };
    QTest::newRow("backslash separator") << u"data\\sub"_s << QStringList{ u"data/sub/b.ini"_s };
    QTest::newRow("current directory")
            << u"."_s << QStringList{ u"./data/sub/b.ini"_s, u"./data/a.ini"_s, u"./top.ini"_s };
    QTest::newRow("through the parent")
            << u"../work/data"_s
            << QStringList{ u"../work/data/sub/b.ini"_s, u"../work/data/a.ini"_s };
}

void tst_FileCollector::relativeDirectoryStaysRelative()
{
    QFETCH(QString, directory);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString problem = buildTree(
            dir.path(), { u"work/data/a.ini"_s, u"work/data/sub/b.ini"_s, u"work/top.ini"_s });
    QVERIFY2(problem.isEmpty(), qPrintable(u"cannot make "_s + problem));

    CurrentDirectoryGuard guard;
    QVERIFY(QDir::setCurrent(dir.path() + u"/work"_s));

    QStringList fileList;
    collectFiles(directory, fileList, true, u"*.ini"_s);
    QCOMPARE(fileList, expected);
}

QTEST_GUILESS_MAIN(tst_FileCollector)
#include "tst_filecollector.moc"
