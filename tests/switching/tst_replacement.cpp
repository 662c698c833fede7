// Looking for values in a file and replacing them in place: what the journal shows, which boxes
// come up, and which bytes end up on disk, through real files in temporary folders.

#include "messageboxwatcher.h"
#include "testfiles.h"

#include "switching/fileswitch.h"
#include "switching/gui/journal.h"
#include "switching/gui/replacement.h"
#include "files/filesystem.h"
#include "text/textformat.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPlainTextEdit>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// What the program writes after every line.
#ifdef Q_OS_WIN
const QByteArray lineEnd = QByteArrayLiteral("\r\n");
#else
const QByteArray lineEnd = QByteArrayLiteral("\n");
#endif

// Expected file contents are written with "\n"; this gives the bytes the program writes.
QByteArray written(QByteArray bytes)
{
    return bytes.replace("\n", lineEnd);
}

QString modifiedLabel()
{
    return QStringLiteral("Fichier modifié : ");
}

QString notModifiedLabel()
{
    return QStringLiteral("Fichier non modifié : ");
}

// The path as the journal shows it.
QString journalPath(const QString &path)
{
    QString shown = path;
    shown.replace(u'/', u'\\');
    return shown;
}

QStringList journalLines(const QPlainTextEdit &journal)
{
    const QString text = journal.toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

// Expected journal lines are written with %P where the shown path goes.
QStringList withPath(QStringList lines, const QString &path)
{
    for (QString &line : lines)
        line.replace(QStringLiteral("%P"), journalPath(path));
    return lines;
}

bool isBold(const QTextCharFormat &format)
{
    return format.fontWeight() >= QFont::Bold;
}

// Checks the look of every paragraph of the journal: a header is its label in green (modified)
// or red (not modified) followed by the path in bold of the same colour; every other line is
// plain, neither coloured nor bold.
void verifyJournalLook(const QPlainTextEdit &journal, const QString &path)
{
    const QColor green(QStringLiteral("green"));
    const QColor red(QStringLiteral("red"));
    const QString shownPath = journalPath(path);
    const QTextDocument *document = journal.document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        QString label;
        QColor colour;
        if (text.startsWith(modifiedLabel())) {
            label = modifiedLabel();
            colour = green;
        } else if (text.startsWith(notModifiedLabel())) {
            label = notModifiedLabel();
            colour = red;
        }
        QString boldText;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            const QTextCharFormat format = fragment.charFormat();
            const qsizetype start = fragment.position() - block.position();
            const qsizetype end = start + fragment.length();
            const QString where =
                    QStringLiteral("paragraph \"%1\", fragment \"%2\"").arg(text, fragment.text());
            if (label.isEmpty()) {
                QVERIFY2(!isBold(format), qPrintable(where + QStringLiteral(" is bold")));
                if (format.foreground().style() != Qt::NoBrush) {
                    const QColor shown = format.foreground().color();
                    QVERIFY2(shown != green && shown != red,
                             qPrintable(where + QStringLiteral(" is coloured ") + shown.name()));
                }
                continue;
            }
            QVERIFY2(format.foreground().style() != Qt::NoBrush,
                     qPrintable(where + QStringLiteral(" has no colour")));
            QCOMPARE(format.foreground().color().name(), colour.name());
            if (end <= label.size()) {
                QVERIFY2(!isBold(format), qPrintable(where + QStringLiteral(" label is bold")));
            } else {
                QVERIFY2(start >= label.size(),
                         qPrintable(where + QStringLiteral(" mixes label and path")));
                QVERIFY2(isBold(format), qPrintable(where + QStringLiteral(" path not bold")));
                boldText += fragment.text();
            }
        }
        if (!label.isEmpty())
            QCOMPARE(boldText, shownPath);
    }
    // The same seen from the HTML of the document.
    const QString html = document->toHtml();
    bool anyModified = false;
    bool anyNotModified = false;
    for (const QString &line : journalLines(journal)) {
        anyModified = anyModified || line.startsWith(modifiedLabel());
        anyNotModified = anyNotModified || line.startsWith(notModifiedLabel());
    }
    QCOMPARE(html.contains(green.name()), anyModified);
    QCOMPARE(html.contains(red.name()), anyNotModified);
}

QByteArray encoded(QStringConverter::Encoding encoding, const QByteArray &mark, const QString &text)
{
    QStringEncoder encoder(encoding);
    return mark + QByteArray(encoder.encode(text));
}

QByteArray utf16le(const QString &text)
{
    return encoded(QStringConverter::Utf16LE, QByteArray("\xFF\xFE", 2), text);
}

QByteArray utf16be(const QString &text)
{
    return encoded(QStringConverter::Utf16BE, QByteArray("\xFE\xFF", 2), text);
}

QByteArray utf32le(const QString &text)
{
    return encoded(QStringConverter::Utf32LE, QByteArray("\xFF\xFE\x00\x00", 4), text);
}

QByteArray utf32be(const QString &text)
{
    return encoded(QStringConverter::Utf32BE, QByteArray("\x00\x00\xFE\xFF", 4), text);
}

QString u8(const char *text)
{
    return QString::fromUtf8(text);
}

#ifdef Q_OS_UNIX
int modeOf(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

bool setMode(const QString &path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

struct Identity
{
    quint64 inode = 0;
    quint64 links = 0;
};

Identity identityOf(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return { quint64(info.st_ino), quint64(info.st_nlink) };
}
#endif

// A file switched as a run switches it (see switchTree): read with its stamp, its new content made
// by replaceValuesInFile beside it, then put in place, its records in the journal as the window
// gives them. NotWritten when it cannot be read, or its new content cannot be made.
FileSwitch switchFile(const QString &path, const QStringList &fromValues,
                      const QStringList &toValues, bool caseSensitive, QPlainTextEdit &edit)
{
    FileSwitch switched;
    QByteArray bytes;
    FileStamp basis;
    if (!readFileBytes(path, bytes, &basis)) {
        switched.outcome = FileOutcome::NotWritten;
        return switched;
    }
    Journal journal(&edit);
    Rewrite rewrite(path, false, basis);
    switched = replaceValuesInFile(
            bytes, SwitchValues(fromValues, toValues, caseSensitive), rewrite,
            [&](const LineRecord &record) { recordLine(path, record, journal); });
    if (switched.outcome == FileOutcome::LeftIntact)
        recordLeftIntact(path, switched.safety, journal);
    if (switched.outcome != FileOutcome::Switched)
        return switched;
    PreparedFile prepared;
    switched.write = rewrite.prepare(prepared);
    if (!switched.write)
        switched.outcome = FileOutcome::NotWritten;
    else if (putInPlace(prepared, &switched.write) != PlaceOutcome::Placed)
        switched.outcome = FileOutcome::NotPlaced;
    return switched;
}

void verifyNoBoxParent(const QList<SeenMessageBox> &boxes)
{
    for (const SeenMessageBox &box : boxes) {
        QVERIFY2(box.parent.isNull(), qPrintable(box.title + QStringLiteral(" has a parent")));
        // A path may hold "<" or "&": it must show as written.
        QCOMPARE(box.textFormat, Qt::PlainText);
    }
}

} // namespace

enum class UnreadablePath { Missing, DanglingLink, Folder, NoReadPermission, WriteOnly };
enum class WriteFailure { ReadOnlyFile, ReadOnlyFolder, SizeLimit };
enum class Link { SameFolder, OtherFolder, Chain, Absolute, Hard };

Q_DECLARE_METATYPE(UnreadablePath)
Q_DECLARE_METATYPE(WriteFailure)
Q_DECLARE_METATYPE(Link)
Q_DECLARE_METATYPE(TextSafety)

namespace {

bool canMakeSymlinks()
{
#ifdef Q_OS_UNIX
    return true;
#else
    return false;
#endif
}

bool needsPermissions(UnreadablePath kind)
{
    return kind == UnreadablePath::NoReadPermission || kind == UnreadablePath::WriteOnly;
}

// Puts at path something that exists (or seems to) but cannot be read as a file. Permission
// bits only hold under PermissionsEnforced. The modification time of a file is moved into the
// past, so that a rewrite would show.
bool makeUnreadable(UnreadablePath kind, const QString &path, const QByteArray &content)
{
    switch (kind) {
    case UnreadablePath::Missing:
        return true;
    case UnreadablePath::DanglingLink:
#ifdef Q_OS_UNIX
        return ::symlink("absent.ini", QFile::encodeName(path).constData()) == 0;
#else
        return false;
#endif
    case UnreadablePath::Folder:
        return QDir().mkpath(path);
    case UnreadablePath::NoReadPermission:
    case UnreadablePath::WriteOnly:
        writeBytes(path, content);
        ageFile(path);
        return QFile::setPermissions(
                path, kind == UnreadablePath::WriteOnly ? QFile::WriteOwner : QFile::Permissions());
    }
    return false;
}

} // namespace

class tst_Replacement : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findsValues_data();
    void findsValues();
    void readFailureBoxes_data();
    void readFailureBoxes();

    void journalRecords_data();
    void journalRecords();
    void writeBack_data();
    void writeBack();
    void unsafeFilesLeftIntact_data();
    void unsafeFilesLeftIntact();

    void readThenStamp_data();
    void readThenStamp();
    void writeFailures_data();
    void writeFailures();

    void permissionsKept_data();
    void permissionsKept();
    void ownerKept();
    void linkedFiles_data();
    void linkedFiles();
};

// ---- fileHoldsAnyValue, and the boxes of a file that cannot be read ---------------------------

void tst_Replacement::findsValues_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("fromValues");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("expected");

    const QStringList hostProd{ QStringLiteral("host-prod") };
    QTest::newRow("exact value on a line")
            << QByteArray("a=1\nurl=host-prod\nb=2\n") << hostProd << true << true;
    QTest::newRow("value on the last line without final line feed")
            << QByteArray("a=1\nurl=host-prod") << hostProd << true << true;
    QTest::newRow("value in a CRLF file")
            << QByteArray("a=1\r\nurl=host-prod\r\n") << hostProd << true << true;
    QTest::newRow("second value of the list")
            << QByteArray("url=host-prod\n") << QStringList{ u8("absent"), u8("host-prod") } << true
            << true;
    QTest::newRow("value absent") << QByteArray("a=1\nurl=host-dev\n") << hostProd << true << false;
    QTest::newRow("other case with case respected")
            << QByteArray("URL=HOST-PROD\n") << hostProd << true << false;
    QTest::newRow("other case with case ignored")
            << QByteArray("URL=HOST-PROD\n") << hostProd << false << true;
    QTest::newRow("accented capitals with case ignored")
            << u8("Clé=ÉTÉ\n").toUtf8() << QStringList{ u8("été") } << false << true;
    QTest::newRow("accented capitals with case respected")
            << u8("Clé=ÉTÉ\n").toUtf8() << QStringList{ u8("été") } << true << false;
    QTest::newRow("value split across two lines")
            << QByteArray("url=host-\nprod\n") << hostProd << true << false;
    QTest::newRow("value split across two CRLF lines, case ignored")
            << QByteArray("url=host-\r\nprod\r\n") << hostProd << false << false;
    QTest::newRow("value holding a line feed")
            << QByteArray("url=host-\nprod\n") << QStringList{ u8("host-\nprod") } << true << false;
    QTest::newRow("empty file") << QByteArray() << hostProd << true << false;
    QTest::newRow("empty file, case ignored") << QByteArray() << hostProd << false << false;
    QTest::newRow("empty list of values")
            << QByteArray("url=host-prod\n") << QStringList() << true << false;
    QTest::newRow("empty value matches nothing")
            << QByteArray("url=host-prod\n") << QStringList{ QString() } << false << false;
    QTest::newRow("empty value then a present value")
            << QByteArray("url=host-prod\n") << QStringList{ QString(), u8("host-prod") } << true
            << true;
    QTest::newRow("value in a UTF-8 file with byte-order mark")
            << QByteArray("\xEF\xBB\xBFurl=host-prod\n") << hostProd << true << true;
    QTest::newRow("value in a UTF-16 LE file")
            << utf16le(u8("clé=1\r\nurl=host-prod\r\n")) << hostProd << true << true;
    QTest::newRow("value in a UTF-16 BE file")
            << utf16be(u8("clé=1\nurl=host-prod\n")) << hostProd << true << true;
    QTest::newRow("UTF-16 LE file without the value")
            << utf16le(u8("clé=1\nurl=host-dev\n")) << hostProd << true << false;
    QTest::newRow("value in a UTF-32 BE file")
            << utf32be(u8("url=HOST-PROD\n")) << hostProd << false << true;
    // Such files are left intact by the replacement, which then says why in the journal.
    QTest::newRow("value in a Windows-1252 file")
            << QByteArray("caf\xE9 host-prod\n") << hostProd << true << true;
    QTest::newRow("value in a file holding NUL bytes")
            << QByteArray("\x01\x00\x02host-prod\n", 13) << hostProd << true << true;
}

void tst_Replacement::findsValues()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, fromValues);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, expected);

    QCOMPARE(fileHoldsAnyValue(content, SwitchValues(fromValues, {}, caseSensitive)), expected);
}

void tst_Replacement::readFailureBoxes_data()
{
    QTest::addColumn<UnreadablePath>("kind");
    QTest::addColumn<QString>("name");
    // "title | text" of each box, %1 standing for the path; then the icon of each box.
    QTest::addColumn<QStringList>("expectedBoxes");
    QTest::addColumn<QList<int>>("expectedIcons");

    const QStringList missing{ u8("Erreur | Impossible d'ouvrir le fichier %1"),
                               u8("Fichier non trouvé | Le fichier %1 n'existe pas.") };
    const QList<int> missingIcons{ QMessageBox::Critical, QMessageBox::Warning };
    const QStringList unreadable{ u8("Fichier illisible | impossible d'ouvrir le fichier %1.") };
    const QList<int> unreadableIcons{ QMessageBox::Critical };

    QTest::newRow("missing file") << UnreadablePath::Missing << u8("absent.ini") << missing
                                  << missingIcons;
    QTest::newRow("missing file whose name looks like HTML")
            << UnreadablePath::Missing << u8("a&b<c>.ini") << missing << missingIcons;
    QTest::newRow("missing file in a missing folder")
            << UnreadablePath::Missing << u8("parti/été.ini") << missing << missingIcons;
    QTest::newRow("link to a missing file")
            << UnreadablePath::DanglingLink << u8("lien.ini") << missing << missingIcons;
    QTest::newRow("folder") << UnreadablePath::Folder << u8("dossier.ini") << unreadable
                            << unreadableIcons;
    QTest::newRow("file without read permission")
            << UnreadablePath::NoReadPermission << u8("secret.ini") << unreadable
            << unreadableIcons;
    QTest::newRow("write-only file whose name looks like HTML")
            << UnreadablePath::WriteOnly << u8("a&b<c>.ini") << unreadable << unreadableIcons;
}

void tst_Replacement::readFailureBoxes()
{
    QFETCH(UnreadablePath, kind);
    QFETCH(QString, name);
    QFETCH(QStringList, expectedBoxes);
    QFETCH(QList<int>, expectedIcons);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(name);
    const QByteArray content("url=host-prod\n");

    if (kind == UnreadablePath::DanglingLink && !canMakeSymlinks())
        QSKIP("symbolic links are made with the Unix call");
    if (needsPermissions(kind) && !PermissionsEnforced().enforced())
        QSKIP("the permission bits cannot be made to apply to this process");
    QVERIFY(makeUnreadable(kind, path, content));
    const QStringList entriesBefore = entriesOf(dir.path());

    MessageBoxWatcher watcher;
    {
        // As a run reads a file, then tells a file that is gone from one out of reach.
        PermissionsEnforced permissions;
        QByteArray bytes;
        QVERIFY(!readFileBytes(path, bytes));
        showReadFailure(path, isMissingFile(path));
    }

    QStringList expected;
    for (const QString &box : std::as_const(expectedBoxes))
        expected.append(box.arg(path));
    QCOMPARE(watcher.summaries(), expected);
    QList<int> icons;
    for (const SeenMessageBox &box : watcher.boxes())
        icons.append(box.icon);
    QCOMPARE(icons, expectedIcons);
    verifyNoBoxParent(watcher.boxes());

    // Nothing was created or changed.
    QCOMPARE(entriesOf(dir.path()), entriesBefore);
    if (kind == UnreadablePath::NoReadPermission || kind == UnreadablePath::WriteOnly)
        QCOMPARE(readBytes(path), content);
}

// ---- replaceValuesInFile: journal -------------------------------------------------------------

void tst_Replacement::journalRecords_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("fromValues");
    QTest::addColumn<QStringList>("toValues");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QStringList>("expectedJournal"); // %P: the path as shown
    QTest::addColumn<QByteArray>("expectedContent"); // lines ending with "\n"

    const QString modified = u8("Fichier modifié : %P");
    const QString notModified = u8("Fichier non modifié : %P");
    const QStringList prod{ u8("prod") };
    const QStringList dev{ u8("dev") };

    QTest::newRow("exact line replaced, other lines unchanged")
            << u8("config/app.ini") << QByteArray("[General]\nEnvironnement=prod\nNiveau=3\n")
            << QStringList{ u8("Environnement=prod") } << QStringList{ u8("Environnement=dev") }
            << true
            << QStringList{ modified, u8("Avant : Environnement=prod"),
                            u8("Après : Environnement=dev") }
            << QByteArray("[General]\nEnvironnement=dev\nNiveau=3\n");
    QTest::newRow("value inside a longer word")
            << u8("app.ini") << QByteArray("Environnement=production\n")
            << QStringList{ u8("Environnement=prod") } << QStringList{ u8("Environnement=dev") }
            << true
            << QStringList{ modified, u8("Avant : Environnement=production"),
                            u8("Après : Environnement=devuction") }
            << QByteArray("Environnement=devuction\n");
    QTest::newRow("value absent: no record, same lines")
            << u8("app.ini") << QByteArray("[General]\nNiveau=3\n")
            << QStringList{ u8("Environnement=prod") } << QStringList{ u8("Environnement=dev") }
            << true << QStringList() << QByteArray("[General]\nNiveau=3\n");
    QTest::newRow("second value applies to the result of the first")
            << u8("app.ini") << QByteArray("url=A\n") << QStringList{ u8("A"), u8("B") }
            << QStringList{ u8("B"), u8("C") } << true
            << QStringList{ modified, u8("Avant : url=A"), u8("Après : url=B"),
                            modified, u8("Avant : url=A"), u8("Après : url=C") }
            << QByteArray("url=C\n");
    QTest::newRow("earlier value does not see the result of a later one")
            << u8("app.ini") << QByteArray("url=A\n") << QStringList{ u8("B"), u8("A") }
            << QStringList{ u8("C"), u8("B") } << true
            << QStringList{ modified, u8("Avant : url=A"), u8("Après : url=B") }
            << QByteArray("url=B\n");
    QTest::newRow("case ignored: line in capitals")
            << u8("app.ini") << QByteArray("ENVIRONNEMENT=PROD\n")
            << QStringList{ u8("Environnement=prod") } << QStringList{ u8("Environnement=dev") }
            << false
            << QStringList{ modified, u8("Avant : ENVIRONNEMENT=PROD"),
                            u8("Après : Environnement=dev") }
            << QByteArray("Environnement=dev\n");
    QTest::newRow("case respected: line in capitals left")
            << u8("app.ini") << QByteArray("ENVIRONNEMENT=PROD\n")
            << QStringList{ u8("Environnement=prod") } << QStringList{ u8("Environnement=dev") }
            << true << QStringList() << QByteArray("ENVIRONNEMENT=PROD\n");
    QTest::newRow("case ignored: the exact case wins when present")
            << u8("app.ini") << QByteArray("Prod prod PROD\n") << prod << dev << false
            << QStringList{ modified, u8("Avant : Prod prod PROD"), u8("Après : Prod dev PROD") }
            << QByteArray("Prod dev PROD\n");
    QTest::newRow("case ignored: first variant replaced wherever it stands")
            << u8("app.ini") << QByteArray("Prod x PROD Prod\n") << prod << dev << false
            << QStringList{ modified, u8("Avant : Prod x PROD Prod"), u8("Après : dev x PROD dev") }
            << QByteArray("dev x PROD dev\n");
    QTest::newRow("case ignored: accented capitals")
            << u8("app.ini") << u8("Clé=ÉTÉ\n").toUtf8() << QStringList{ u8("été") }
            << QStringList{ u8("hiver") } << false
            << QStringList{ modified, u8("Avant : Clé=ÉTÉ"), u8("Après : Clé=hiver") }
            << QByteArray("Cl\xC3\xA9=hiver\n");
    QTest::newRow("records in line order, each line in value order")
            << u8("app.ini")
            << QByteArray("host=srv-prod\nnothing here\nuser=usr-prod;pwd=pwd-prod\nport=8443\n")
            << QStringList{ u8("pwd-prod"), u8("usr-prod"), u8("srv-prod"), u8("8443") }
            << QStringList{ u8("pwd-dev"), u8("usr-dev"), u8("srv-dev"), u8("8080") } << true
            << QStringList{ modified,
                            u8("Avant : host=srv-prod"),
                            u8("Après : host=srv-dev"),
                            modified,
                            u8("Avant : user=usr-prod;pwd=pwd-prod"),
                            u8("Après : user=usr-prod;pwd=pwd-dev"),
                            modified,
                            u8("Avant : user=usr-prod;pwd=pwd-prod"),
                            u8("Après : user=usr-dev;pwd=pwd-dev"),
                            modified,
                            u8("Avant : port=8443"),
                            u8("Après : port=8080") }
            << QByteArray("host=srv-dev\nnothing here\nuser=usr-dev;pwd=pwd-dev\nport=8080\n");
    QTest::newRow("value found twice on a line: one record")
            << u8("app.ini") << QByteArray("a=prod,prod\n") << prod << dev << true
            << QStringList{ modified, u8("Avant : a=prod,prod"), u8("Après : a=dev,dev") }
            << QByteArray("a=dev,dev\n");
    QTest::newRow("lines trimmed in the journal, kept whole in the file")
            << u8("app.ini") << QByteArray("  \tcle = prod  \n") << prod << dev << true
            << QStringList{ modified, u8("Avant : cle = prod"), u8("Après : cle = dev") }
            << QByteArray("  \tcle = dev  \n");
    QTest::newRow("file name and line that look like HTML shown as written")
            << htmlLikeFileName() << QByteArray("<b>url</b>=http://prod?a=1&amp;b=2\n") << prod
            << dev << true
            << QStringList{ modified, u8("Avant : <b>url</b>=http://prod?a=1&amp;b=2"),
                            u8("Après : <b>url</b>=http://dev?a=1&amp;b=2") }
            << QByteArray("<b>url</b>=http://dev?a=1&amp;b=2\n");
    QTest::newRow("nested folders with spaces and accents")
            << u8("sous dossier/été/fichier.ini") << QByteArray("a=prod\n") << prod << dev << true
            << QStringList{ modified, u8("Avant : a=prod"), u8("Après : a=dev") }
            << QByteArray("a=dev\n");
    QTest::newRow("first line after a byte-order mark")
            << u8("app.ini")
            << QByteArray("\xEF\xBB\xBF"
                          "Environnement=prod\r\n")
            << QStringList{ u8("Environnement=prod") } << QStringList{ u8("Environnement=dev") }
            << true
            << QStringList{ modified, u8("Avant : Environnement=prod"),
                            u8("Après : Environnement=dev") }
            << QByteArray("Environnement=dev\n");
    QTest::newRow("UTF-16 lines in the journal")
            << u8("app.ini") << utf16le(u8("clé=prod\r\n")) << prod << dev << true
            << QStringList{ modified, u8("Avant : clé=prod"), u8("Après : clé=dev") }
            << QByteArray("cl\xC3\xA9=dev\n");
    QTest::newRow("value made in another case by an earlier replacement")
            << u8("app.ini") << QByteArray("Xb\n") << QStringList{ u8("X"), u8("ab") }
            << QStringList{ u8("A"), u8("zz") } << false
            << QStringList{ modified, u8("Avant : Xb"), u8("Après : Ab"), notModified,
                            u8("Chaine ab non identifiée bien que présente.") }
            << QByteArray("Ab\n");
    QTest::newRow("variant whose lower case is not the value's")
            << u8("app.ini") << u8("  clé ſ=1  \n").toUtf8() << QStringList{ u8(" s=1 ") }
            << QStringList{ u8("s=2") } << false
            << QStringList{ notModified, u8("Chaine s=1 non identifiée bien que présente.") }
            << u8("  clé ſ=1  \n").toUtf8();
    QTest::newRow("variant whose lower case is not the value's, case respected")
            << u8("app.ini") << u8("  clé ſ=1  \n").toUtf8() << QStringList{ u8(" s=1 ") }
            << QStringList{ u8("s=2") } << true << QStringList() << u8("  clé ſ=1  \n").toUtf8();
    QTest::newRow("unidentified value does not stop the next one")
            << u8("app.ini") << u8("ſ=1;prod\n").toUtf8() << QStringList{ u8("s=1"), u8("prod") }
            << QStringList{ u8("s=2"), u8("dev") } << false
            << QStringList{ notModified, u8("Chaine s=1 non identifiée bien que présente."),
                            modified, u8("Avant : ſ=1;prod"), u8("Après : ſ=1;dev") }
            << u8("ſ=1;dev\n").toUtf8();
    QTest::newRow("new value already on the line")
            << u8("app.ini") << QByteArray("prod dev\n") << prod << dev << true
            << QStringList{ modified, u8("Avant : prod dev"), u8("Après : dev dev") }
            << QByteArray("dev dev\n");
    QTest::newRow("empty value skipped")
            << u8("app.ini") << QByteArray("a=prod\n") << QStringList{ QString(), u8("prod") }
            << QStringList{ u8("x"), u8("dev") } << false
            << QStringList{ modified, u8("Avant : a=prod"), u8("Après : a=dev") }
            << QByteArray("a=dev\n");
    QTest::newRow("value without a counterpart not used")
            << u8("app.ini") << QByteArray("prod test\n") << QStringList{ u8("prod"), u8("test") }
            << dev << true
            << QStringList{ modified, u8("Avant : prod test"), u8("Après : dev test") }
            << QByteArray("dev test\n");
    QTest::newRow("blank lines kept")
            << u8("app.ini") << QByteArray("\n\nprod\n\n") << prod << dev << true
            << QStringList{ modified, u8("Avant : prod"), u8("Après : dev") }
            << QByteArray("\n\ndev\n\n");
    QTest::newRow("replacement by an empty value")
            << u8("app.ini") << QByteArray("url=host-prod\n") << QStringList{ u8("-prod") }
            << QStringList{ QString() } << true
            << QStringList{ modified, u8("Avant : url=host-prod"), u8("Après : url=host") }
            << QByteArray("url=host\n");
}

void tst_Replacement::journalRecords()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, fromValues);
    QFETCH(QStringList, toValues);
    QFETCH(bool, caseSensitive);
    QFETCH(QStringList, expectedJournal);
    QFETCH(QByteArray, expectedContent);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(name);
    writeBytes(path, content);

    QPlainTextEdit journal;
    QVERIFY(switchFile(path, fromValues, toValues, caseSensitive, journal).outcome
            == FileOutcome::Switched);

    QCOMPARE(journalLines(journal), withPath(expectedJournal, path));
    verifyJournalLook(journal, path);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(readBytes(path), written(expectedContent));
    QCOMPARE(entriesOf(QFileInfo(path).absolutePath()), QStringList{ QFileInfo(path).fileName() });
}

// ---- replaceValuesInFile: bytes written back --------------------------------------------------

void tst_Replacement::writeBack_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expectedContent"); // lines ending with "\n"
    QTest::addColumn<int>("expectedRecords");

    QTest::newRow("LF file without the value comes back byte for byte")
            << QByteArray("a=1\nb=2\n") << QByteArray("a=1\nb=2\n") << 0;
    QTest::newRow("LF file with the value")
            << QByteArray("a=prod\nb=2\n") << QByteArray("a=dev\nb=2\n") << 1;
    QTest::newRow("CRLF file comes back LF")
            << QByteArray("a=prod\r\nb=2\r\n") << QByteArray("a=dev\nb=2\n") << 1;
    QTest::newRow("CRLF file without the value comes back LF")
            << QByteArray("a=1\r\nb=2\r\n") << QByteArray("a=1\nb=2\n") << 0;
    QTest::newRow("mixed line endings come back LF")
            << QByteArray("a\r\nb\nc=prod\r\n\r\n") << QByteArray("a\nb\nc=dev\n\n") << 1;
    QTest::newRow("missing final line feed added")
            << QByteArray("a=1\nb=prod") << QByteArray("a=1\nb=dev\n") << 1;
    QTest::newRow("missing final line feed added without the value")
            << QByteArray("a=1\nb=2") << QByteArray("a=1\nb=2\n") << 0;
    QTest::newRow("missing final line feed after CRLF lines")
            << QByteArray("a=1\r\nb=prod") << QByteArray("a=1\nb=dev\n") << 1;
    QTest::newRow("empty file stays empty") << QByteArray() << QByteArray() << 0;
    QTest::newRow("single line feed") << QByteArray("\n") << QByteArray("\n") << 0;
    QTest::newRow("blank lines only") << QByteArray("\n\r\n\n") << QByteArray("\n\n\n") << 0;
    QTest::newRow("carriage return inside a line kept")
            << QByteArray("a=prod\rb\n") << QByteArray("a=dev\rb\n") << 1;
    QTest::newRow("UTF-8 byte-order mark dropped") << QByteArray("\xEF\xBB\xBF"
                                                                 "a=prod\n")
                                                   << QByteArray("a=dev\n") << 1;
    QTest::newRow("UTF-8 byte-order mark dropped without the value") << QByteArray("\xEF\xBB\xBF"
                                                                                   "a=1\n")
                                                                     << QByteArray("a=1\n") << 0;
    QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << QByteArray() << 0;
    QTest::newRow("UTF-16 LE rewritten as UTF-8")
            << utf16le(u8("clé=prod\r\nété=1\r\n")) << u8("clé=dev\nété=1\n").toUtf8() << 1;
    QTest::newRow("UTF-16 BE rewritten as UTF-8")
            << utf16be(u8("clé=prod\nété=1")) << u8("clé=dev\nété=1\n").toUtf8() << 1;
    QTest::newRow("UTF-16 LE without the value rewritten as UTF-8")
            << utf16le(u8("été=1\n")) << u8("été=1\n").toUtf8() << 0;
    QTest::newRow("UTF-16 LE with a character beyond the basic plane")
            << utf16le(u8("\U0001F600=prod\n")) << u8("\U0001F600=dev\n").toUtf8() << 1;
    QTest::newRow("UTF-32 LE rewritten as UTF-8")
            << utf32le(u8("clé=prod\n")) << u8("clé=dev\n").toUtf8() << 1;
    QTest::newRow("UTF-32 BE rewritten as UTF-8")
            << utf32be(u8("clé=prod\n")) << u8("clé=dev\n").toUtf8() << 1;
    QTest::newRow("UTF-8 characters kept") << u8("clé=été prod € \U0001F600\n").toUtf8()
                                           << u8("clé=été dev € \U0001F600\n").toUtf8() << 1;
    // Bytes that are not UTF-8 (Latin-1, Windows-1252, a sequence cut short) come back as they
    // were.
    QTest::newRow("Windows-1252 text holding the value")
            << QByteArray("caf\xE9 a=prod\n") << QByteArray("caf\xE9 a=dev\n") << 1;
    QTest::newRow("Windows-1252 text without the value")
            << QByteArray("caf\xE9 a=1\n") << QByteArray("caf\xE9 a=1\n") << 0;
    QTest::newRow("Windows-1252 text, value on another line than the bad byte")
            << QByteArray("url=prod\r\nnom=CAF\xC9\r\n") << QByteArray("url=dev\nnom=CAF\xC9\n")
            << 1;
    QTest::newRow("UTF-8 sequence cut at the end of the file")
            << QByteArray("url=prod\nnom=caf\xC3") << QByteArray("url=dev\nnom=caf\xC3\n") << 1;
    QTest::newRow("UTF-8 encoded surrogate")
            << QByteArray("url=prod\xED\xA0\x80\n") << QByteArray("url=dev\xED\xA0\x80\n") << 1;
    QTest::newRow("overlong UTF-8 sequence")
            << QByteArray("url=prod\xC0\xAF\n") << QByteArray("url=dev\xC0\xAF\n") << 1;
    QTest::newRow("bad byte after a UTF-8 byte-order mark")
            << QByteArray("\xEF\xBB\xBFurl=prod;caf\xE9\n") << QByteArray("url=dev;caf\xE9\n") << 1;
    QTest::newRow("values on two lines, the last without a line feed")
            << QByteArray("a=prod\r\nb=prod") << QByteArray("a=dev\nb=dev\n") << 2;
}

void tst_Replacement::writeBack()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expectedContent);
    QFETCH(int, expectedRecords);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("app.ini"));
    writeBytes(path, content);
    ageFile(path);
    const QDateTime aged = modificationTime(path);

    QPlainTextEdit journal;
    QVERIFY(switchFile(path, { u8("prod") }, { u8("dev") }, true, journal).outcome
            == FileOutcome::Switched);

    const QByteArray result = readBytes(path);
    QCOMPARE(result, written(expectedContent));
    QVERIFY2(!result.startsWith("\xEF\xBB\xBF"), "a byte-order mark was written");
    QVERIFY(modificationTime(path) > aged);
    // A carriage return inside a line breaks the journal line: count the headers.
    int headers = 0;
    for (const QString &line : journalLines(journal))
        headers += line.startsWith(modifiedLabel()) ? 1 : 0;
    QCOMPARE(headers, expectedRecords);
    QCOMPARE(journalLines(journal).size() >= 3 * expectedRecords, true);
    QCOMPARE(entriesOf(dir.path()), QStringList{ u8("app.ini") });
}

// ---- replaceValuesInFile: files that would not survive a rewrite ------------------------------

void tst_Replacement::unsafeFilesLeftIntact_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("holdsValue");
    QTest::addColumn<TextSafety>("safety");

    const auto invalid = TextSafety::InvalidBytes;
    const auto nul = TextSafety::HasNulBytes;
    QTest::newRow("NUL bytes holding the value")
            << QByteArray("host-prod\0\x01\x02\n", 13) << true << true << nul;
    QTest::newRow("NUL bytes without the value")
            << QByteArray("host-dev\0\x01\x02\n", 12) << true << false << nul;
    QTest::newRow("NUL and invalid bytes")
            << QByteArray("\xE9\0host-prod\n", 12) << true << true << nul;
    QTest::newRow("UTF-16 text holding a NUL character")
            << utf16le(QStringLiteral("url=host-prod") + QChar(u'\0') + QStringLiteral("x\n"))
            << true << true << nul;
    QTest::newRow("UTF-16 text with an odd number of bytes")
            << utf16le(u8("url=host-prod\n")) + QByteArray("x") << true << true << invalid;
    QTest::newRow("UTF-16 text with a lone surrogate")
            << utf16le(u8("url=host-prod\n")) + QByteArray("\x00\xD8", 2) + utf16le(u8("\n")).mid(2)
            << true << true << invalid;
    QTest::newRow("UTF-32 text with a code beyond Unicode")
            << utf32le(u8("url=host-prod ")) + QByteArray("\x00\x00\x11\x00\x0A\x00\x00\x00", 8)
            << true << true << invalid;
}

void tst_Replacement::unsafeFilesLeftIntact()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, holdsValue);
    QFETCH(TextSafety, safety);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("app.ini"));
    writeBytes(path, content);
    ageFile(path);
    const QDateTime aged = modificationTime(path);

    QPlainTextEdit journal;
    const FileOutcome outcome =
            switchFile(path, { u8("host-prod") }, { u8("host-dev") }, caseSensitive, journal)
                    .outcome;
    QCOMPARE(readBytes(path), content);

    QVERIFY(outcome == (holdsValue ? FileOutcome::LeftIntact : FileOutcome::NoValue));
    QCOMPARE(modificationTime(path), aged);

    const QString reason = textSafetyReason(safety);
    QVERIFY(!reason.isEmpty());
    QVERIFY2(reason.contains(u8("intact")), qPrintable(reason));
    const QStringList expected = holdsValue
            ? QStringList{ notModifiedLabel() + journalPath(path), reason }
            : QStringList();
    QCOMPARE(journalLines(journal), expected);
    verifyJournalLook(journal, path);
    QCOMPARE(entriesOf(dir.path()), QStringList{ u8("app.ini") });
}

// ---- replaceValuesInFile: failures ------------------------------------------------------------

void tst_Replacement::readThenStamp_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<qint64>("maxSize");

    // Around the size that comes in one read, then larger than the most that is read.
    for (const qsizetype size : { 0, 1, 65535, 65536, 65537, 300000 })
        QTest::addRow("%lld bytes", qlonglong(size)) << size << (qint64(1) << 20);
    QTest::newRow("larger than the most read") << qsizetype(300000) << qint64(299999);
    QTest::newRow("small, larger than the most read") << qsizetype(10) << qint64(9);
}

void tst_Replacement::readThenStamp()
{
    QFETCH(qsizetype, size);
    QFETCH(qint64, maxSize);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(u8("fichier.ini"));
    QByteArray content(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        content[i] = char('a' + i % 26);
    writeBytes(path, content);

    QByteArray bytes("left from before");
    FileStamp stamp;
    const bool read = readFileThenStamp(path, bytes, stamp, maxSize);
    QCOMPARE(read, size <= maxSize);
    QCOMPARE(bytes, read ? content : QByteArray());
    QVERIFY(read ? stamp == fileStamp(path) : !stamp.valid);
    QVERIFY(!readFileThenStamp(dir.path(), bytes, stamp, maxSize));
    QVERIFY(!readFileThenStamp(dir.filePath(u8("absent.ini")), bytes, stamp, maxSize));
}

void tst_Replacement::writeFailures_data()
{
    QTest::addColumn<WriteFailure>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("newValue");
    QTest::addColumn<qint64>("sizeLimit");
    QTest::addColumn<QStringList>("expectedJournal"); // %P: the path as shown

    const QByteArray twoValues("[General]\r\nurl=host-prod\r\nuser=admin\r\nbackup=host-prod-2");
    const QStringList twoRecords{
        u8("Fichier modifié : %P"),       u8("Avant : url=host-prod"),
        u8("Après : url=host-dev"),       u8("Fichier modifié : %P"),
        u8("Avant : backup=host-prod-2"), u8("Après : backup=host-dev-2")
    };

    QTest::newRow("read-only file")
            << WriteFailure::ReadOnlyFile << twoValues << u8("host-dev") << qint64(0) << twoRecords;
    QTest::newRow("file in a read-only folder") << WriteFailure::ReadOnlyFolder << twoValues
                                                << u8("host-dev") << qint64(0) << twoRecords;

    // The new content goes past the size limit; the old one fits below it, or not.
    const QString longValue = QString(6000, u'x');
    const QStringList longRecord{ u8("Fichier modifié : %P"), u8("Avant : url=host-prod"),
                                  u8("Après : url=") + longValue };
    QTest::newRow("new content past the size limit")
            << WriteFailure::SizeLimit << QByteArray("url=host-prod\nuser=admin\n") << longValue
            << qint64(4096) << longRecord;
    QTest::newRow("old and new content past the size limit")
            << WriteFailure::SizeLimit
            << QByteArray("url=host-prod\n") + QByteArray(5000, 'y') + QByteArray("\n") << longValue
            << qint64(4096) << longRecord;
    const QString longerValue = QString(40000, u'x');
    QTest::newRow("new content past the size limit and larger than the write buffer")
            << WriteFailure::SizeLimit << QByteArray("url=host-prod\n") << longerValue
            << qint64(4096)
            << QStringList{ u8("Fichier modifié : %P"), u8("Avant : url=host-prod"),
                            u8("Après : url=") + longerValue };
    QTest::newRow("no byte can be written")
            << WriteFailure::SizeLimit << twoValues << u8("host-dev") << qint64(0) << twoRecords;
}

void tst_Replacement::writeFailures()
{
    QFETCH(WriteFailure, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, newValue);
    QFETCH(qint64, sizeLimit);
    QFETCH(QStringList, expectedJournal);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString folder = dir.filePath(QStringLiteral("conf"));
    const QString path = folder + QStringLiteral("/app.ini");
    writeBytes(path, content);
    writeBytes(folder + QStringLiteral("/other.ini"), "other=1\n");
    ageFile(path);
    const QDateTime timeBefore = modificationTime(path);

    if (kind == WriteFailure::ReadOnlyFile)
        QVERIFY(QFile::setPermissions(path,
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    if (kind == WriteFailure::ReadOnlyFolder)
        QVERIFY(QFile::setPermissions(
                folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
    const QFile::Permissions permissions = QFileInfo(path).permissions();
    const QStringList entriesBefore = entriesOf(folder);

    QPlainTextEdit journal;
    FileSwitch switched;
    if (kind == WriteFailure::SizeLimit) {
        FileSizeLimit limit(sizeLimit);
        if (!limit.active())
            QSKIP("the file size limit cannot be set for this process");
        switched = switchFile(path, { u8("host-prod") }, { newValue }, true, journal);
    } else {
        PermissionsEnforced enforced;
        if (!enforced.enforced())
            QSKIP("the permission bits cannot be made to apply to this process");
        switched = switchFile(path, { u8("host-prod") }, { newValue }, true, journal);
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QVERIFY(switched.outcome == FileOutcome::NotWritten);
    QVERIFY(switched.write.systemError != 0);
    // The records were given as the new content was made, and stay.
    QCOMPARE(journalLines(journal), withPath(expectedJournal, path));
    verifyJournalLook(journal, path);

    // The file keeps its bytes, and nothing is left beside it.
    QCOMPARE(readBytes(path), content);
    QCOMPARE(modificationTime(path), timeBefore);
    QCOMPARE(QFileInfo(path).permissions(), permissions);
    QCOMPARE(entriesOf(folder), entriesBefore);
    QCOMPARE(readBytes(folder + QStringLiteral("/other.ini")), QByteArray("other=1\n"));
}

// ---- replaceValuesInFile: what the file is beyond its bytes -----------------------------------

void tst_Replacement::permissionsKept_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expectedContent");

    const QByteArray withValue("a=prod\n");
    const QByteArray replaced("a=dev\n");
    QTest::newRow("0640") << 0640 << withValue << replaced;
    QTest::newRow("0600") << 0600 << withValue << replaced;
    QTest::newRow("0604") << 0604 << withValue << replaced;
    QTest::newRow("0666 wider than the process mask") << 0666 << withValue << replaced;
    QTest::newRow("0755 executable") << 0755 << withValue << replaced;
    QTest::newRow("0700 executable for the owner only") << 0700 << withValue << replaced;
}

void tst_Replacement::permissionsKept()
{
#ifndef Q_OS_UNIX
    QSKIP("Unix permission bits");
#else
    QFETCH(int, mode);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expectedContent);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("app.ini"));
    writeBytes(path, content);
    QVERIFY(setMode(path, mode));
    QCOMPARE(modeOf(path), mode);

    QPlainTextEdit journal;
    FileOutcome outcome = FileOutcome::NotWritten;
    {
        // As for a user who owns the file, where that can be had; the bits must be kept either way.
        PermissionsEnforced permissions;
        outcome = switchFile(path, { u8("prod") }, { u8("dev") }, true, journal).outcome;
    }
    QVERIFY(outcome == FileOutcome::Switched);
    QCOMPARE(readBytes(path), written(expectedContent));
    QCOMPARE(QString::number(modeOf(path), 8), QString::number(mode, 8));
    QCOMPARE(entriesOf(dir.path()), QStringList{ u8("app.ini") });
#endif
}

void tst_Replacement::ownerKept()
{
#ifndef Q_OS_UNIX
    QSKIP("Unix owners");
#else
    if (geteuid() != 0)
        QSKIP("only root can give a file to another owner: the rewrite runs as the owner here");
    // A service account's file, switched by root, stays the service's.
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("service.ini"));
    writeBytes(path, "a=prod\n");
    QVERIFY(setMode(path, 0640));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);

    QPlainTextEdit journal;
    QVERIFY(switchFile(path, { u8("prod") }, { u8("dev") }, true, journal).outcome
            == FileOutcome::Switched);
    QCOMPARE(readBytes(path), written("a=dev\n"));
    QCOMPARE(QFileInfo(path).ownerId(), 65534u);
    QCOMPARE(QFileInfo(path).groupId(), 65534u);
    QCOMPARE(QString::number(modeOf(path), 8), QStringLiteral("640"));
#endif
}

void tst_Replacement::linkedFiles_data()
{
    QTest::addColumn<Link>("link");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("expectedContent");

    const QByteArray withValue("a=prod\r\nb=1\n");
    const QByteArray replaced("a=dev\nb=1\n");
    QTest::newRow("symbolic link in the same folder") << Link::SameFolder << withValue << replaced;
    QTest::newRow("symbolic link to another folder") << Link::OtherFolder << withValue << replaced;
    QTest::newRow("symbolic link to a symbolic link") << Link::Chain << withValue << replaced;
    QTest::newRow("symbolic link with an absolute target")
            << Link::Absolute << withValue << replaced;
    QTest::newRow("hard link") << Link::Hard << withValue << replaced;
}

void tst_Replacement::linkedFiles()
{
#ifndef Q_OS_UNIX
    QSKIP("links are made with the Unix calls");
#else
    QFETCH(Link, link);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, expectedContent);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString linkFolder = dir.filePath(QStringLiteral("liens"));
    const QString targetFolder = link == Link::OtherFolder || link == Link::Absolute
            ? dir.filePath(QStringLiteral("cibles"))
            : linkFolder;
    const QString target = targetFolder + QStringLiteral("/réel.ini");
    const QString path = linkFolder + QStringLiteral("/app.ini");
    QVERIFY(QDir().mkpath(linkFolder));
    writeBytes(target, content);

    QByteArray linkText;
    switch (link) {
    case Link::SameFolder:
        linkText = QFile::encodeName(u8("réel.ini"));
        break;
    case Link::OtherFolder:
        linkText = QFile::encodeName(u8("../cibles/réel.ini"));
        break;
    case Link::Chain:
        QVERIFY(::symlink(QFile::encodeName(u8("réel.ini")).constData(),
                          QFile::encodeName(linkFolder + u8("/milieu.ini")).constData())
                == 0);
        linkText = "milieu.ini";
        break;
    case Link::Absolute:
        linkText = QFile::encodeName(target);
        break;
    case Link::Hard:
        break;
    }
    if (link == Link::Hard)
        QVERIFY(::link(QFile::encodeName(target).constData(), QFile::encodeName(path).constData())
                == 0);
    else
        QVERIFY(::symlink(linkText.constData(), QFile::encodeName(path).constData()) == 0);
    QCOMPARE(identityOf(path).links, link == Link::Hard ? quint64(2) : quint64(1));
    const QStringList linkEntries = entriesOf(linkFolder);
    const QStringList targetEntries = entriesOf(targetFolder);

    QPlainTextEdit journal;
    QVERIFY(switchFile(path, { u8("prod") }, { u8("dev") }, true, journal).outcome
            == FileOutcome::Switched);
    QCOMPARE(journalLines(journal),
             withPath({ u8("Fichier modifié : %P"), u8("Avant : a=prod"), u8("Après : a=dev") },
                      path));
    QCOMPARE(readBytes(path), written(expectedContent));
    QCOMPARE(entriesOf(linkFolder), linkEntries);
    QCOMPARE(entriesOf(targetFolder), targetEntries);

    if (link == Link::Hard) {
        // The new content takes the place of the name given, as a new file: the other name
        // keeps the old content and the two names no longer share their data.
        QCOMPARE(readBytes(target), content);
        QCOMPARE(identityOf(path).links, quint64(1));
        QCOMPARE(identityOf(target).links, quint64(1));
        QVERIFY(identityOf(path).inode != identityOf(target).inode);
    } else {
        // The link stays a link, with the same target, and the target gets the new content.
        QVERIFY(QFileInfo(path).isSymLink());
        char buffer[4096] = {};
        const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
        QCOMPARE(QByteArray(buffer, int(size)), linkText);
        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(readBytes(target), written(expectedContent));
    }
#endif
}

QTEST_MAIN(tst_Replacement)

#include "tst_replacement.moc"
