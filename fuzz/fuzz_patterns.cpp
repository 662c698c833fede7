// Fuzz target: the list of name patterns of the filter field ("*.ini;*.conf").
//
// The input is the text of the filter. A small tree is made once, with names that wildcards
// find hard (hidden, dots, brackets, blanks, accents, upper case, wildcard characters, a ";"),
// a link back up the tree, links to a file and to nothing, a FIFO and a directory whose name
// matches the patterns. Checked for every input:
// - only regular files (or links to them) are collected, each once, in the order of a listing of
//   every file; the files of the sub-directories come before those of the directory itself and
//   the link back up is not walked;
// - for patterns made of plain characters, "*" and "?", the files are exactly those whose name
//   matches one pattern, ignoring case;
// - the filter "A;B" collects the files of "A" and those of "B"; changing the case of its ASCII
//   letters changes nothing.

#include "fuzzcheck.h"

#include "files/filecollector.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype maximumFilterLength = 400;
constexpr qsizetype maximumPiecesForUnion = 8;
constexpr qsizetype maximumSeparateStarsPerFilter = 8;

const QStringList topFileNames = {
    QStringLiteral("a.txt"),
    QStringLiteral("B.TXT"),
    QStringLiteral("config.ini"),
    QStringLiteral("CONFIG.INI.bak"),
    QStringLiteral(".hidden"),
    QStringLiteral(".env.local"),
    QStringLiteral("noext"),
    QStringLiteral("x.y.z"),
    QStringLiteral("[ab].ini"),
    QStringLiteral("a]b"),
    QStringLiteral("spa ce.conf"),
    QStringLiteral("été.ini"),
    QStringLiteral("ÉTÉ2.INI"),
    QStringLiteral("star*name"),
    QStringLiteral("q?mark"),
    QStringLiteral("semi;colon.txt"),
    QStringLiteral("trailingdot."),
    QStringLiteral("ſtrange"),
    QStringLiteral("tab\tname"),
    QStringLiteral("\u212Aelvin.ini"),
    QStringLiteral("-"),
};
const QStringList subFileNames = { QStringLiteral("inner.ini"), QStringLiteral("INNER2.txt") };

struct Tree
{
    QTemporaryDir dir;
    QString root; // with a final "/"
    QStringList allFlat; // the files of the top folder, in the order the walk gives them
    QStringList regularTop; // names of what may be collected in the top folder
};

void makeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("x\n") != 2)
        fuzzFailure(__FILE__, __LINE__, "cannot make the tree");
}

Tree &tree()
{
    static Tree *made = [] {
        auto *t = new Tree;
        FUZZ_CHECK(t->dir.isValid(), "no temporary folder");
        t->root = t->dir.path() + u'/';
        for (const QString &name : topFileNames)
            makeFile(t->root + name);
        QDir(t->root).mkpath(QStringLiteral("sub"));
        QDir(t->root).mkpath(QStringLiteral("dir.ini"));
        for (const QString &name : subFileNames)
            makeFile(t->root + QStringLiteral("sub/") + name);
        QFile::link(QStringLiteral(".."), t->root + QStringLiteral("sub/up"));
        QFile::link(QStringLiteral("a.txt"), t->root + QStringLiteral("link.ini"));
        QFile::link(QStringLiteral("nowhere"), t->root + QStringLiteral("dangling.ini"));
        ::mkfifo(QFile::encodeName(t->root + QStringLiteral("pipe.ini")).constData(), 0600);
        t->regularTop = topFileNames;
        t->regularTop.append(QStringLiteral("link.ini"));
        collectFiles(t->root, t->allFlat, false, QStringLiteral("*"));
        FUZZ_CHECK(t->allFlat.size() == t->regularTop.size(), "\"*\" does not find every file");
        return t;
    }();
    return *made;
}

bool sameCharacter(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

// "*" any run of characters, "?" any one character, anything else itself, ignoring case. Each
// "*" is tried at later places only when what follows it fails, so that patterns with many "*"
// are matched in time proportional to the product of the lengths, not exponential.
bool wildcardMatches(QStringView pattern, QStringView name)
{
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype star = -1;
    qsizetype resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size()
                   && (pattern[p] == u'?' || sameCharacter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

QStringList collect(const QString &filter, bool recurse)
{
    QStringList files;
    collectFiles(tree().root, files, recurse, filter);
    return files;
}

QString swapAsciiCase(const QString &text)
{
    QString swapped = text;
    for (QChar &c : swapped) {
        const char16_t u = c.unicode();
        if (u >= u'a' && u <= u'z')
            c = QChar(char16_t(u - 32));
        else if (u >= u'A' && u <= u'Z')
            c = QChar(char16_t(u + 32));
    }
    return swapped;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString filter = QString::fromUtf8(bytesOf(data, size)).left(maximumFilterLength);
    const Tree &t = tree();
    const QStringList flat = collect(filter, false);

    // Only what may be collected, each once, in the order of the whole listing.
    qsizetype position = 0;
    for (const QString &path : flat) {
        FUZZ_CHECK(path.startsWith(t.root), "a path outside the folder");
        FUZZ_CHECK(t.regularTop.contains(path.sliced(t.root.size())),
                   "something that is not a regular file was collected");
        const qsizetype at = t.allFlat.indexOf(path, position);
        FUZZ_CHECK(at >= 0, "a file collected twice or out of order");
        position = at + 1;
    }

    const QStringList pieces = filter.split(u';');
    // Plain patterns, with few separate "*": against one with many, Qt's regular-expression
    // engine reaches its match limit over a long enough name and matches nothing.
    QString collapsed = filter;
    while (collapsed.contains(QLatin1String("**")))
        collapsed.replace(QLatin1String("**"), QLatin1String("*"));
    const bool plain = !filter.contains(u'[') && !filter.contains(u']') && !filter.contains(u'\\')
            && collapsed.count(u'*') <= maximumSeparateStarsPerFilter;
    if (plain) {
        for (const QString &name : t.regularTop) {
            bool expected = false;
            for (const QString &piece : pieces)
                expected = expected || wildcardMatches(piece, name);
            if (expected != flat.contains(t.root + name)) {
                std::fprintf(stderr, "filter [%s] name [%s] expected %d\n",
                             visible(filter).constData(), visible(name).constData(), expected);
                fuzzFailure(__FILE__, __LINE__, "the patterns select other files");
            }
        }
    }

    if (pieces.size() > 1 && pieces.size() <= maximumPiecesForUnion) {
        QSet<QString> united;
        for (const QString &piece : pieces) {
            for (const QString &path : collect(piece, false))
                united.insert(path);
        }
        FUZZ_CHECK(united == QSet<QString>(flat.cbegin(), flat.cend()),
                   "a list of patterns is not the union of its patterns");
    }

    // The case of a pattern does not count, but for the bounds of a range in a set: "[!-a]" takes
    // "_", which lies between its bounds, and "[!-A]" does not.
    const bool ranges = filter.contains(u'[') && filter.contains(u'-');
    FUZZ_CHECK(ranges || collect(swapAsciiCase(filter), false) == flat,
               "the case of the patterns counts");

    // With sub-directories: theirs first, then the same files of the folder itself.
    const QStringList deep = collect(filter, true);
    FUZZ_CHECK(deep.size() >= flat.size() && deep.mid(deep.size() - flat.size()) == flat,
               "the folder's own files are not last");
    const QString sub = t.root + QStringLiteral("sub/");
    for (qsizetype i = 0; i < deep.size() - flat.size(); ++i) {
        const QString &path = deep.at(i);
        FUZZ_CHECK(path.startsWith(sub) && subFileNames.contains(path.sliced(sub.size())),
                   "a file from elsewhere, or from the link back up the tree");
    }
    return 0;
}
