// The fast path of a switch (values searched in the bytes of a file, lines without a value
// copied as they are, journal paragraphs added in batches) gives exactly what the plain path
// gives: decoding the whole file, replacing line by line, appending paragraph by paragraph.

#include "text/valuefinder.h"
#include "switching/fileswitch.h"
#include "switching/gui/journal.h"
#include "text/linereplacer.h"
#include "files/filesystem.h"
#include "text/textformat.h"

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QByteArray utf8Of(char32_t codePoint)
{
    return QStringView(QChar::fromUcs4(codePoint)).toUtf8(); // fromUcs4() would drop U+FEFF
}

// Bytes that are often almost UTF-8: every kind of well-formed and ill-formed sequence, between
// ASCII runs of any length.
QByteArray nearUtf8(QRandomGenerator &rng)
{
    // Ill-formed starts: overlong forms, surrogates, beyond U+10FFFF, bytes never in UTF-8.
    struct IllFormed
    {
        uchar lead, low, high;
    };
    static const IllFormed illFormed[] = { { 0xC0, 0x80, 0xBF }, { 0xC1, 0x80, 0xBF },
                                           { 0xE0, 0x80, 0x9F }, { 0xED, 0xA0, 0xBF },
                                           { 0xF0, 0x80, 0x8F }, { 0xF4, 0x90, 0xBF },
                                           { 0xF5, 0x80, 0xBF }, { 0xF8, 0x80, 0xBF },
                                           { 0xFE, 0x80, 0xBF }, { 0xFF, 0x80, 0xBF } };
    static const char32_t edges[] = { 0x80,   0x7FF,  0x800,  0xD7FF,  0xE000,  0xFDD0,  0xFEFF,
                                      0xFFFD, 0xFFFE, 0xFFFF, 0x10000, 0x1FFFE, 0x10FFFF };
    const auto continuation = [&] { return char(rng.bounded(0x80, 0xC0)); };
    QByteArray bytes;
    for (int pieces = rng.bounded(1, 12); pieces > 0; --pieces) {
        const int pick = rng.bounded(10);
        if (pick < 3) { // ASCII run, long enough for the eight-byte loop
            for (int n = rng.bounded(24); n > 0; --n)
                bytes += char(rng.bounded(0x01, 0x80));
        } else if (pick < 7) { // well-formed, sometimes cut short
            const char32_t c = rng.bounded(3) == 0
                    ? edges[rng.bounded(13)]
                    : char32_t(rng.bounded(2) ? rng.bounded(0x80, 0xD800)
                                              : rng.bounded(0xE000, 0x110000));
            const QByteArray whole = utf8Of(c);
            bytes += pick == 6 ? whole.left(rng.bounded(1, int(whole.size()))) : whole;
        } else if (pick < 9) {
            const IllFormed &ill = illFormed[rng.bounded(10)];
            bytes += char(ill.lead);
            bytes += char(rng.bounded(ill.low, ill.high + 1));
            for (int n = rng.bounded(3); n > 0; --n)
                bytes += continuation();
        } else {
            bytes += rng.bounded(2) ? continuation() : char(rng.bounded(256)); // stray byte
        }
    }
    return bytes;
}

// Files built from a small alphabet, so that values are often found, in every case.
const QStringList letters = {
    u"a"_s, u"b"_s, u"k"_s, u"s"_s, u"A"_s, u"B"_s,  u"K"_s,  u"S"_s, u"é"_s, u"É"_s,
    u"ß"_s, u"ẞ"_s, u"Σ"_s, u"σ"_s, u"ς"_s, u"中"_s, u"文"_s, u"😀"_s, u"="_s, u" "_s,
    u"i"_s, u"I"_s, u"İ"_s, u"ı"_s, u"ǅ"_s, u"ǆ"_s,  u"Ǆ"_s,  u"ﬁ"_s, u"𐐀"_s, u"𐐨"_s,
};
const QStringList folding = { u"ſ"_s, u"\u212A"_s }; // case folding gives an ASCII letter
const QStringList lineEnds = { u"\r"_s, u"\n"_s, u"\r\n"_s };

QString randomText(QRandomGenerator &rng, int maximum, bool withFolding)
{
    QString text;
    for (int n = rng.bounded(maximum + 1); n > 0; --n) {
        const int pick = rng.bounded(100);
        if (pick < 12)
            text += lineEnds.at(rng.bounded(3));
        else if (pick < 15 && withFolding)
            text += folding.at(rng.bounded(2));
        else if (pick < 16)
            text += QChar(rng.bounded(2) ? 0xFEFF : 0xFFFD);
        else
            text += letters.at(rng.bounded(letters.size()));
    }
    return text;
}

// A file's bytes: UTF-8 with or without mark (NUL and invalid bytes sometimes), or UTF-16.
QByteArray randomFile(QRandomGenerator &rng, const QString &text)
{
    const int form = rng.bounded(10);
    if (form >= 8) {
        const auto encoding = form == 8 ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        return QByteArray(form == 8 ? "\xFF\xFE" : "\xFE\xFF")
                + QStringEncoder(encoding).encode(text);
    }
    QByteArray bytes = form >= 5 ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    const QByteArray body = text.toUtf8();
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (rng.bounded(60) == 0)
            bytes += "\xE9\xFF\0"[rng.bounded(3)];
        bytes += body.at(i);
    }
    return bytes;
}

QString changeCase(QRandomGenerator &rng, QString value)
{
    switch (rng.bounded(4)) {
    case 0:
        return value.toUpper();
    case 1:
        return value.toLower();
    case 2:
        for (QChar &c : value)
            c = rng.bounded(2) ? c.toUpper() : c.toLower();
        return value;
    default:
        return value;
    }
}

// Values found in the text or made of its alphabet; ASCII-only for half of the cases.
QStringList randomValues(QRandomGenerator &rng, const QString &text, bool asciiOnly)
{
    QStringList values;
    for (int n = rng.bounded(1, 5); n > 0; --n) {
        QString value;
        const int pick = rng.bounded(10);
        if (pick < 5 && !text.isEmpty()) {
            qsizetype at = rng.bounded(int(text.size()));
            qsizetype size = rng.bounded(1, 5);
            if (rng.bounded(10)) { // whole characters, mostly
                at -= text.at(at).isLowSurrogate() ? 1 : 0;
                size += at + size < text.size() && text.at(at + size).isLowSurrogate() ? 1 : 0;
            }
            value = changeCase(rng, text.mid(at, size));
        } else if (pick < 8) {
            value = randomText(rng, 3, false);
        } else if (pick == 8) {
            value = letters.at(rng.bounded(letters.size()));
        }
        if (asciiOnly) {
            QString ascii;
            for (const QChar c : value)
                ascii += c.unicode() < 0x80 ? c : QChar(u'a' + rng.bounded(3));
            value = ascii;
        }
        values.append(value);
    }
    return values;
}

QStringList randomToValues(QRandomGenerator &rng, const QStringList &fromValues)
{
    QStringList toValues;
    for (qsizetype i = 0; i < fromValues.size() - (rng.bounded(5) == 0 ? 1 : 0); ++i) {
        QString to = randomText(rng, 3, false).remove(u'\n');
        if (i + 1 < fromValues.size() && rng.bounded(3) == 0) // a chain: a later value comes back
            to += fromValues.at(rng.bounded(int(i + 1), int(fromValues.size())));
        toValues.append(to);
    }
    return toValues;
}

QString shown(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes)
        out += uchar(c) >= 0x20 && uchar(c) < 0x7F
                ? QString(QLatin1Char(c))
                : u"\\x%1"_s.arg(uint(uchar(c)), 2, 16, QChar(u'0'));
    return u"\""_s + out + u"\""_s;
}

QString shown(const QStringList &values)
{
    QStringList quoted;
    for (const QString &value : values)
        quoted.append(shown(value.toUtf8()));
    return u"["_s + quoted.join(u", "_s) + u"]"_s;
}

bool plainHolds(const QByteArray &bytes, const QStringList &fromValues, bool caseSensitive)
{
    for (const QString &line : splitLines(decodeText(bytes).text)) {
        if (lineHoldsAnyValue(line, fromValues, caseSensitive))
            return true;
    }
    return false;
}

// What differs between the fast and the plain path for one file and one set of values.
QString switchMismatch(const QByteArray &bytes, const QStringList &fromValues,
                       const QStringList &toValues, bool caseSensitive)
{
    const auto describe = [](const LineRecord &record) {
        return u"%1 [%2] -> [%3]"_s.arg(int(record.kind)).arg(record.before, record.after);
    };
    const SwitchValues values(fromValues, toValues, caseSensitive);
    const QString input = u"file %1, from %2, to %3, case %4: "_s.arg(
            shown(bytes), shown(fromValues), shown(toValues),
            caseSensitive ? u"sensitive"_s : u"ignored"_s);
    const bool holds = plainHolds(bytes, fromValues, caseSensitive);
    if (fileHoldsAnyValue(bytes, values) != holds)
        return input + u"fileHoldsAnyValue is %1"_s.arg(!holds);

    QStringList fastRecords;
    const SwitchedFile fast = switchFileBytes(
            bytes, values, [&](const LineRecord &record) { fastRecords.append(describe(record)); });
    const DecodedText decoded = decodeText(bytes);
    if (fast.safety != decoded.safety)
        return input + u"safety %1 instead of %2"_s.arg(int(fast.safety)).arg(int(decoded.safety));
    if (decoded.safety != TextSafety::Rewritable)
        return fast.holdsValue == holds ? QString() : input + u"holdsValue is %1"_s.arg(!holds);

    QStringList lines = splitLines(decoded.text);
    QStringList plainRecords;
    for (QString &line : lines) {
        QList<LineRecord> records;
        line = replaceValuesInLine(line, fromValues, toValues, caseSensitive, &records);
        for (const LineRecord &record : std::as_const(records))
            plainRecords.append(describe(record));
    }
    const QByteArray plainBytes = encodeLines(lines);
    if (fast.bytes != plainBytes)
        return input + u"bytes %1 instead of %2"_s.arg(shown(fast.bytes), shown(plainBytes));
    if (fastRecords != plainRecords)
        return input
                + u"records %1 instead of %2"_s.arg(fastRecords.join(u" | "_s),
                                                    plainRecords.join(u" | "_s));
    return QString();
}

// The journal's paragraphs: headers as a switch writes them, and plain lines.
struct Paragraph
{
    QString text; // the label of a header
    bool html;
    std::optional<Journal::Colour> header = std::nullopt;
    QString path = QString();
};

QList<Paragraph> randomParagraphs(QRandomGenerator &rng, int count)
{
    static const QList<Paragraph> choices = {
        { u"<font color=\"green\">Fichier modifié : <b>C:\\dir\\a&amp;b.ini</b></font>"_s, true },
        { u"<font color=\"red\">Fichier non modifié : <b>conf/é.xml</b></font>"_s, true },
        { u"<font color=\"red\">Fichier laissé intact : <b>x</b></font>"_s, true },
        { u"<b>gras</b> puis normal"_s, true },
        { QString(), true },
        { u"Avant : url=http://prod/?a=1&b=<2>"_s, false },
        { u"Après : url=http://dev/?a=1&amp;b"_s, false },
        { u"Chaine <x> non identifiée bien que présente."_s, false },
        { u"  espaces  "_s, false },
        { QString(), false },
    };
    // Journal headers with paths that HTML reading may change: blanks (doubled, leading,
    // trailing, tab, no-break), markup characters, accents, an emoji, nothing at all.
    static const QStringList pathPieces = { u"a"_s,      u"B"_s,  u"\\"_s, u"/"_s,
                                            u" "_s,      u"  "_s, u"\t"_s, u"\u00A0"_s,
                                            u"\u3000"_s, u"<"_s,  u"&"_s,  u"\""_s,
                                            u"'"_s,      u"é"_s,  u"😀"_s,  u"."_s };
    QList<Paragraph> paragraphs;
    for (int i = 0; i < count; ++i) {
        if (rng.bounded(3)) {
            paragraphs.append(choices.at(rng.bounded(choices.size())));
            continue;
        }
        QString path;
        for (int n = rng.bounded(8); n > 0; --n)
            path += pathPieces.at(rng.bounded(pathPieces.size()));
        const bool green = rng.bounded(2);
        paragraphs.append({ green ? u"Fichier modifié : "_s : u"Fichier non modifié : "_s, false,
                            green ? Journal::Colour::Green : Journal::Colour::Red, path });
    }
    return paragraphs;
}

// Adds a paragraph to a Journal or directly to a QPlainTextEdit, a header as its HTML.
void appendTo(Journal &target, const Paragraph &paragraph)
{
    if (paragraph.header)
        target.appendHeader(*paragraph.header, paragraph.text, paragraph.path);
    else if (paragraph.html)
        target.appendHtml(paragraph.text);
    else
        target.appendPlainText(paragraph.text);
}

void appendTo(QPlainTextEdit &target, const Paragraph &paragraph)
{
    if (paragraph.header)
        target.appendHtml(Journal::headerHtml(*paragraph.header, paragraph.text, paragraph.path));
    else if (paragraph.html)
        target.appendHtml(paragraph.text);
    else
        target.appendPlainText(paragraph.text);
}

// What differs between two journals, as the user sees them and as the next append finds them.
QString editMismatch(const QPlainTextEdit &batched, const QPlainTextEdit &direct)
{
    if (batched.toPlainText() != direct.toPlainText())
        return u"text [%1] instead of [%2]"_s.arg(batched.toPlainText(), direct.toPlainText());
    if (batched.document()->toHtml() != direct.document()->toHtml())
        return u"HTML %1\ninstead of %2"_s.arg(batched.document()->toHtml(),
                                               direct.document()->toHtml());
    if (batched.blockCount() != direct.blockCount())
        return u"%1 blocks instead of %2"_s.arg(batched.blockCount()).arg(direct.blockCount());
    const auto sameLook = [](const QTextCharFormat &a, const QTextCharFormat &b) {
        return a.foreground() == b.foreground() && a.fontWeight() == b.fontWeight();
    };
    QTextBlock a = batched.document()->firstBlock();
    for (QTextBlock b = direct.document()->firstBlock(); b.isValid(); a = a.next(), b = b.next()) {
        if (!sameLook(a.charFormat(), b.charFormat())
            || !sameLook(QTextCursor(a).charFormat(), QTextCursor(b).charFormat())
            || a.blockFormat() != b.blockFormat())
            return u"formats differ in block %1 [%2]"_s.arg(b.blockNumber()).arg(b.text());
    }
    if (batched.textCursor().position() != direct.textCursor().position()
        || !sameLook(batched.textCursor().charFormat(), direct.textCursor().charFormat())
        || batched.textCursor().blockFormat() != direct.textCursor().blockFormat())
        return u"the edit's cursor differs"_s;
    return QString();
}

} // namespace

class tst_FastPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writerGetsTheSameBytes_data();
    void writerGetsTheSameBytes();
    void findsLeftmostValue_data();
    void findsLeftmostValue();
    void utf8ValidityIsTheDecoders_data();
    void utf8ValidityIsTheDecoders();
    void holdsValueAsLines_data() { fileRows(); }
    void holdsValueAsLines();
    void switchAsPlainPath_data() { fileRows(); }
    void switchAsPlainPath();
    void journalAsDirectAppends_data();
    void journalAsDirectAppends();

private:
    void fileRows();
};

void tst_FastPath::writerGetsTheSameBytes_data()
{
    QTest::addColumn<int>("valueEvery"); // a value on one line in this many; 0: none
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<bool>("lastLineEnded");
    QTest::newRow("values here and there") << 997 << false << true;
    QTest::newRow("values here and there, CRLF, last line unended") << 1009 << true << false;
    QTest::newRow("one value at the very end") << -1 << false << false;
    QTest::newRow("no value") << 0 << true << true;
}

void tst_FastPath::writerGetsTheSameBytes()
{
    QFETCH(int, valueEvery);
    QFETCH(bool, crlf);
    QFETCH(bool, lastLineEnded);

    // Some megabytes, so that the content is handed over in several pieces.
    QByteArray bytes;
    const int lines = 120000;
    for (int i = 0; i < lines; ++i) {
        bytes += "cle.numero." + QByteArray::number(i) + "=valeur sans importance ééé";
        if ((valueEvery > 0 && i % valueEvery == 0) || (valueEvery < 0 && i == lines - 1))
            bytes += " hote-prod.exemple.fr";
        if (i + 1 < lines || lastLineEnded)
            bytes += crlf ? "\r\n" : "\n";
    }
    const SwitchValues values({ u"hote-prod.exemple.fr"_s }, { u"hote-dev.exemple.fr"_s }, true);
    QList<LineRecord> wholeRecords, pieceRecords;
    const SwitchedFile whole = switchFileBytes(
            bytes, values, [&](const LineRecord &record) { wholeRecords.append(record); });
    QList<QByteArray> pieces;
    const SwitchedFile streamed = switchFileBytes(
            bytes, values, [&](const LineRecord &record) { pieceRecords.append(record); },
            [&](QByteArrayView piece) { pieces.append(piece.toByteArray()); });

    QCOMPARE(streamed.safety, TextSafety::Rewritable);
    QVERIFY(streamed.bytes.isEmpty());
    QVERIFY2(pieces.size() > 2, "the content should come in several pieces");
    for (const QByteArray &piece : std::as_const(pieces))
        QVERIFY(piece.endsWith(nativeLineTerminator()));
    QVERIFY(pieces.join() == whole.bytes);
    QCOMPARE(pieceRecords.size(), wholeRecords.size());
    QVERIFY(whole.bytes
            == encodeLines(splitLines(QString::fromUtf8(bytes))
                                   .replaceInStrings(u"hote-prod.exemple.fr"_s,
                                                     u"hote-dev.exemple.fr"_s)));
}

void tst_FastPath::findsLeftmostValue_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("shortest");
    // Values of 4 bytes or more use the window search; shorter ones the plain scan.
    for (const int shortest : { 1, 4, 7 }) {
        for (quint32 seed = 1; seed <= 4; ++seed)
            QTest::addRow("values of %d bytes or more, seed %u", shortest, seed)
                    << seed << shortest;
    }
}

void tst_FastPath::findsLeftmostValue()
{
    QFETCH(quint32, seed);
    QFETCH(int, shortest);
    QRandomGenerator rng(seed);
    // A small alphabet, so that values and their prefixes meet often.
    const QByteArray alphabet("abAB\xC3\xA7\n");
    auto randomBytes = [&](int size) {
        QByteArray bytes;
        for (int i = 0; i < size; ++i)
            bytes += alphabet.at(rng.bounded(int(alphabet.size())));
        return bytes;
    };
    auto folded = [](QByteArray bytes) {
        for (char &c : bytes)
            c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        return bytes;
    };
    for (int round = 0; round < 500; ++round) {
        QStringList values;
        for (int n = rng.bounded(1, 6); n > 0; --n) {
            QByteArray value = randomBytes(rng.bounded(shortest, shortest + 6)).replace('\n', 'a');
            values.append(QString::fromUtf8(value));
        }
        const QByteArray text = randomBytes(rng.bounded(0, 400));
        const qsizetype from = rng.bounded(int(text.size()) + 1);
        for (const bool caseSensitive : { true, false }) {
            const ValueFinder finder(values, caseSensitive);
            qsizetype expected = -1;
            const QByteArray haystack = caseSensitive ? text : folded(text);
            for (const QString &value : std::as_const(values)) {
                const QByteArray needle = caseSensitive ? value.toUtf8() : folded(value.toUtf8());
                const qsizetype at = haystack.indexOf(needle, from);
                if (at >= 0 && (expected < 0 || at < expected))
                    expected = at;
            }
            QCOMPARE(finder.find(text, from), expected);
        }
    }
}

void tst_FastPath::utf8ValidityIsTheDecoders_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QByteArray>("bytes"); // checked as well as the random strings of the seed
    for (quint32 seed = 1; seed <= 12; ++seed)
        QTest::addRow("random strings, seed %u", seed) << seed << QByteArray();
    const auto pinned = [](const char *tag, QByteArrayView bytes) {
        QTest::newRow(tag) << quint32(0) << bytes.toByteArray();
    };
    pinned("empty", "");
    pinned("ASCII with NUL", QByteArrayView("abc\0def", 7));
    pinned("last code point", "\xF4\x8F\xBF\xBF");
    pinned("beyond last code point", "\xF4\x90\x80\x80");
    pinned("noncharacters", "\xEF\xBF\xBE\xEF\xBF\xBF\xEF\xB7\x90");
    pinned("byte-order mark twice", "\xEF\xBB\xBF\xEF\xBB\xBF");
    pinned("lone C2 after eight ASCII", "abcdefgh\xC2");
    pinned("overlong slash", "\xC0\xAF");
    pinned("overlong E0 80 80", "\xE0\x80\x80");
    pinned("overlong F0 8F BF BF", "\xF0\x8F\xBF\xBF");
    pinned("surrogate ED A0 80", "\xED\xA0\x80");
    pinned("last before surrogates", "\xED\x9F\xBF");
    pinned("four-byte lead cut in two", "\xF0\x9F\x98");
}

void tst_FastPath::utf8ValidityIsTheDecoders()
{
    QFETCH(quint32, seed);
    QFETCH(QByteArray, bytes);
    QRandomGenerator rng(seed);
    QList<QByteArray> cases = { bytes };
    for (int i = 0; seed != 0 && i < 400; ++i)
        cases.append(nearUtf8(rng));
    for (const QByteArray &sample : std::as_const(cases)) {
        // Every alignment of the sample behind ASCII, and ASCII behind it.
        for (int shift = 0; shift < 9; ++shift) {
            const QByteArray shifted =
                    QByteArray(shift, 'x') + sample + QByteArray(shift % 3 * 4, 'y');
            QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            const QString decoded = decoder.decode(shifted); // decoding happens here
            QVERIFY2(isValidUtf8(shifted) == !decoder.hasError(), qPrintable(shown(shifted)));
            // Nothing is read past the end: continuation bytes there complete no sequence.
            const QByteArray followed = shifted + "\x80\x80\x80";
            QVERIFY2(isValidUtf8(QByteArrayView(followed).first(shifted.size()))
                             == !decoder.hasError(),
                     qPrintable(shown(shifted) + u" followed by continuation bytes"_s));
        }
    }
}

void tst_FastPath::fileRows()
{
    QTest::addColumn<quint32>("seed"); // random files and values, or none
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("fromValues");
    QTest::addColumn<QStringList>("toValues");
    for (quint32 seed = 1; seed <= 16; ++seed)
        QTest::addRow("random files, seed %u", seed)
                << seed << QByteArray() << QStringList() << QStringList();
    const auto pinned = [](const char *tag, QByteArrayView bytes, const QStringList &from,
                           const QStringList &to) {
        QTest::newRow(tag) << quint32(0) << bytes.toByteArray() << from << to;
    };
    pinned("long s folds to s", "ſ=1\n", { u"S="_s }, { u"t="_s });
    pinned("Kelvin sign folds to k", "x\r\n\u212A\r\n", { u"k"_s }, { u"m"_s });
    pinned("value with carriage return", "a\r\nb\r\n", { u"a\r"_s }, { u"z"_s });
    pinned("value with byte-order mark",
           "\xEF\xBB\xBF"
           "a\xEF\xBB\xBF"
           "b\n",
           { u"a\uFEFFb"_s }, { u"c"_s });
    pinned("value with the second byte-order mark",
           "\xEF\xBB\xBF\xEF\xBB\xBF"
           "a=1\n",
           { u"\uFEFFa"_s }, { u"b"_s });
    pinned("Latin-1 text around ASCII values", "caf\xE9=Prod\r\n\xE9t\xE9 prod\xFF\n",
           { u"prod"_s, u"T"_s }, { u"dév"_s, u"x"_s });
    pinned("UTF-8 mark, then bytes that read as a UTF-16 mark", "\xEF\xBB\xBF\xFF\xFEk=1\n",
           { u"k"_s }, { u"j"_s });
    pinned("replacement character for an invalid byte", "a\xE9z\n", { u"a\uFFFDz"_s }, { u"c"_s });
    pinned("value cut by a NUL", QByteArrayView("ab\0cd", 5), { u"b\0c"_s }, { u"x"_s });
    pinned("UTF-16 LE file", "\xFF\xFEk\0=\0\n\0", { u"K="_s }, { u"j"_s });
    pinned("no line feed at the end", "k=1\r", { u"1"_s }, { u"2"_s });
    pinned("truncated sequence at the end", "ab\xF0\x9F", { u"b"_s }, { u"c"_s });
    pinned("lone surrogate, half of an emoji", "a\xF0\x9F\x98\x80\n", { QString(QChar(0xD83D)) },
           { u"x"_s });
    pinned("byte-order mark at the start of a line with a value",
           "a\n\xEF\xBB\xBF"
           "b\n",
           { u"b"_s }, { u"c"_s });
    pinned("second byte-order mark, first line without a value",
           "\xEF\xBB\xBF\xEF\xBB\xBF"
           "a\nb\n",
           { u"b"_s }, { u"c"_s });
    pinned("chain of values", "a b\nc\n", { u"a"_s, u"b"_s, u"c"_s }, { u"b"_s, u"c"_s, u"A"_s });
    // Letters whose case forms differ in length, or lie beyond ASCII in one form only, or beyond
    // the BMP: each line holds a form that the toolkit matches, or one that it does not.
    pinned("é as É, not as e", "\\\\FS-04\\COMPTABILITÉ\ncomptabilite\n",
           { u"\\\\fs-04\\Comptabilité"_s }, { u"x"_s });
    pinned("ß as ẞ, not as ss", "STRAẞE\nstrasse\n", { u"Straße"_s }, { u"x"_s });
    pinned("sigmas", "ΟΔΟΣ\nοδοσ\n", { u"οδος"_s, u"Σ="_s }, { u"x"_s, u"y"_s });
    pinned("Kelvin sign in a value", "kelvin=1\n", { u"\u212Aelvin"_s }, { u"x"_s });
    pinned("long s in a value", "Sol\nsol\n", { u"ſol"_s }, { u"x"_s });
    pinned("dotted and dotless i", "İSTANBUL\nistanbul\nIı\n", { u"İstanbul"_s, u"ıı"_s },
           { u"x"_s, u"y"_s });
    pinned("title-case digraph", "ǄEMAL\nǆemal\nDžemal\n", { u"ǅemal"_s }, { u"x"_s });
    pinned("ligature", "ﬁCHIER\nFICHIER\n", { u"ﬁchier"_s }, { u"x"_s });
    pinned("Deseret", "\U00010400\U00010428\n", { u"\U00010428\U00010428"_s }, { u"x"_s });
    pinned("value ending with a carriage return", "a\r\na\rb\n", { u"A\r"_s }, { u"x"_s });
    pinned("lone surrogate for a byte that is not UTF-8", "a\xE9z\n",
           { u"a"_s + QChar(0xDCE9) + u"z"_s }, { u"x"_s });
    pinned("value without counterpart", "x\ny\n", { u"x"_s, u"y"_s }, { u"z"_s });
}

void tst_FastPath::holdsValueAsLines()
{
    QFETCH(quint32, seed);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, fromValues);
    QRandomGenerator rng(seed);
    for (int i = 0; i < (seed ? 300 : 1); ++i) {
        if (seed) {
            const QString text = randomText(rng, 30, rng.bounded(2));
            bytes = randomFile(rng, text);
            fromValues = randomValues(rng, text, rng.bounded(2));
        }
        for (const bool caseSensitive : { true, false }) {
            const bool holds = plainHolds(bytes, fromValues, caseSensitive);
            QVERIFY2(fileHoldsAnyValue(bytes, SwitchValues(fromValues, {}, caseSensitive)) == holds,
                     qPrintable(u"file %1, values %2, case %3, held %4"_s.arg(
                             shown(bytes), shown(fromValues),
                             caseSensitive ? u"sensitive"_s : u"ignored"_s,
                             holds ? u"yes"_s : u"no"_s)));
            // A hit in the first bytes of a file is a whole value within them.
            const ValueFinder finder(fromValues, caseSensitive);
            const QByteArrayView head =
                    QByteArrayView(bytes).first(rng.bounded(int(bytes.size()) + 1));
            const qsizetype hit = finder.find(head);
            if (hit >= 0) {
                const QByteArray rest = head.sliced(hit).toByteArray();
                const auto fits = [&](const QString &value) {
                    return !value.isEmpty()
                            && decodeUtf8Escaped(rest).startsWith(
                                    value, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
                };
                QVERIFY2(std::any_of(fromValues.begin(), fromValues.end(), fits),
                         qPrintable(u"hit at %1 in %2"_s.arg(hit).arg(shown(rest))));
            }
        }
    }
}

void tst_FastPath::switchAsPlainPath()
{
    QFETCH(quint32, seed);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, fromValues);
    QFETCH(QStringList, toValues);
    QRandomGenerator rng(seed);
    for (int i = 0; i < (seed ? 300 : 1); ++i) {
        if (seed) {
            const QString text = randomText(rng, 40, rng.bounded(2));
            bytes = randomFile(rng, text);
            fromValues = randomValues(rng, text, rng.bounded(2));
            toValues = randomToValues(rng, fromValues);
        }
        for (const bool caseSensitive : { true, false }) {
            const QString mismatch = switchMismatch(bytes, fromValues, toValues, caseSensitive);
            QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        }
    }
}

void tst_FastPath::journalAsDirectAppends_data()
{
    QTest::addColumn<QString>("start"); // the edit before the journal
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("paragraphs");
    for (const QString &start :
         { u"empty"_s, u"content"_s, u"appended"_s, u"cleared"_s, u"selected"_s }) {
        for (quint32 seed = 1; seed <= 6; ++seed)
            QTest::addRow("%s edit, seed %u", qPrintable(start), seed) << start << seed << 40;
    }
    // More paragraphs than the journal keeps waiting: it adds them on its own.
    QTest::newRow("empty edit, 5000 paragraphs") << u"empty"_s << quint32(99) << 5000;
}

void tst_FastPath::journalAsDirectAppends()
{
    QFETCH(QString, start);
    QFETCH(quint32, seed);
    QFETCH(int, paragraphs);
    QRandomGenerator rng(seed);
    QPlainTextEdit batched;
    QPlainTextEdit direct;
    for (QPlainTextEdit *edit : { &batched, &direct }) {
        if (start == u"content")
            edit->setPlainText(u"première ligne\n<b>pas du HTML</b>"_s);
        if (start == u"appended" || start == u"cleared") {
            edit->appendHtml(u"<font color=\"red\">avant</font>"_s);
            edit->appendPlainText(u"texte"_s);
        }
        if (start == u"cleared")
            edit->clear();
        if (start == u"selected") { // the user selected the whole journal, from its end
            edit->appendHtml(u"<font color=\"green\">avant</font>"_s);
            QTextCursor all(edit->document());
            all.movePosition(QTextCursor::End);
            all.movePosition(QTextCursor::Start, QTextCursor::KeepAnchor);
            edit->setTextCursor(all);
        }
    }

    // Rounds of paragraphs through the journal, flushed at random points, then a few appended
    // directly to the same edit.
    for (int round = 0; round < 3; ++round) {
        const QList<Paragraph> list = randomParagraphs(rng, paragraphs);
        {
            Journal journal(&batched);
            for (const Paragraph &paragraph : list) {
                appendTo(journal, paragraph);
                appendTo(direct, paragraph);
                if (rng.bounded(10) == 0)
                    journal.flush();
            }
        }
        const QString mismatch = editMismatch(batched, direct);
        QVERIFY2(mismatch.isEmpty(), qPrintable(u"round %1: "_s.arg(round) + mismatch));
        for (const Paragraph &paragraph : randomParagraphs(rng, 3)) {
            appendTo(batched, paragraph);
            appendTo(direct, paragraph);
        }
        const QString after = editMismatch(batched, direct);
        QVERIFY2(after.isEmpty(), qPrintable(u"round %1, direct appends: "_s.arg(round) + after));
    }
}

QTEST_MAIN(tst_FastPath)
#include "tst_fastpath.moc"
