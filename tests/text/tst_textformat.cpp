// How file bytes become text and lines, and back: byte-order marks, the safety verdict that
// decides whether a file may be rewritten, line splitting and the bytes written back.

#include "files/filesystem.h"
#include "text/textformat.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

Q_DECLARE_METATYPE(TextEncoding)
Q_DECLARE_METATYPE(TextSafety)

// Readable values in failure messages (found by QCOMPARE through argument-dependent lookup).
static char *toString(TextEncoding encoding)
{
    const char *names[] = { "Utf8", "Utf8WithBom", "Utf16LE", "Utf16BE", "Utf32LE", "Utf32BE" };
    return qstrdup(names[static_cast<int>(encoding)]);
}

static char *toString(TextSafety safety)
{
    const char *names[] = { "Rewritable", "HasNulBytes", "InvalidBytes" };
    return qstrdup(names[static_cast<int>(safety)]);
}

using namespace Qt::StringLiterals;

namespace {

QByteArray encoded(QStringConverter::Encoding encoding, const QString &text, bool withBom)
{
    QStringEncoder encoder(
            encoding, withBom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
    QByteArray bytes = encoder.encode(text);
    Q_ASSERT(!encoder.hasError());
    return bytes;
}

QStringConverter::Encoding converterFor(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8WithBom:
        return QStringConverter::Utf8;
    case TextEncoding::Utf16LE:
        return QStringConverter::Utf16LE;
    case TextEncoding::Utf16BE:
        return QStringConverter::Utf16BE;
    case TextEncoding::Utf32LE:
        return QStringConverter::Utf32LE;
    case TextEncoding::Utf32BE:
        return QStringConverter::Utf32BE;
    }
    return QStringConverter::Utf8;
}

qsizetype byteOrderMarkSize(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return 0;
    case TextEncoding::Utf8WithBom:
        return 3;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        return 2;
    case TextEncoding::Utf32LE:
    case TextEncoding::Utf32BE:
        return 4;
    }
    return 0;
}

const QByteArray utf8Bom("\xEF\xBB\xBF", 3);
const QByteArray utf16LEBom("\xFF\xFE", 2);
const QByteArray utf16BEBom("\xFE\xFF", 2);
const QByteArray utf32LEBom("\xFF\xFE\x00\x00", 4);
const QByteArray utf32BEBom("\x00\x00\xFE\xFF", 4);

} // namespace

class tst_TextFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesByteOrderMarks_data();
    void decodesByteOrderMarks();
    void judgesSafety_data();
    void judgesSafety();
    void splitsLines_data();
    void splitsLines();
    void encodesLines_data();
    void encodesLines();
    void roundTripsLineFeedText_data();
    void roundTripsLineFeedText();
    void explainsUnsafeText_data();
    void explainsUnsafeText();
};

void tst_TextFile::decodesByteOrderMarks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expectedMark");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<TextEncoding>("expectedEncoding");

    const QString text = QStringLiteral(u"clé=valeur\r\nhôte=日本\n😀 fin\n");
    const QString startsNonAscii = QStringLiteral(u"é=1\n");

    QTest::newRow("no mark: UTF-8") << encoded(QStringConverter::Utf8, text, false) << QByteArray()
                                    << text << TextEncoding::Utf8;
    QTest::newRow("UTF-8 mark dropped from the text")
            << encoded(QStringConverter::Utf8, text, true) << utf8Bom << text
            << TextEncoding::Utf8WithBom;
    QTest::newRow("UTF-16 LE mark") << encoded(QStringConverter::Utf16LE, text, true) << utf16LEBom
                                    << text << TextEncoding::Utf16LE;
    QTest::newRow("UTF-16 BE mark") << encoded(QStringConverter::Utf16BE, text, true) << utf16BEBom
                                    << text << TextEncoding::Utf16BE;
    QTest::newRow("UTF-32 LE mark") << encoded(QStringConverter::Utf32LE, text, true) << utf32LEBom
                                    << text << TextEncoding::Utf32LE;
    QTest::newRow("UTF-32 BE mark") << encoded(QStringConverter::Utf32BE, text, true) << utf32BEBom
                                    << text << TextEncoding::Utf32BE;
    // FF FE 00 00 also starts UTF-16 LE text whose first character is U+0000; a real UTF-32 LE
    // file must win, or every character would come out as two.
    QTest::newRow("UTF-32 LE with a single ASCII character is not UTF-16 LE")
            << encoded(QStringConverter::Utf32LE, QStringLiteral("a"), true) << utf32LEBom
            << QStringLiteral("a") << TextEncoding::Utf32LE;
    QTest::newRow("UTF-16 LE starting with a non-ASCII character is not UTF-32 LE")
            << encoded(QStringConverter::Utf16LE, startsNonAscii, true) << utf16LEBom
            << startsNonAscii << TextEncoding::Utf16LE;
    // A text never starts with U+FEFF: written back as UTF-8 it would be read as a mark again.
    QTest::newRow("UTF-8 doubled mark: both dropped")
            << (utf8Bom + utf8Bom + "a") << utf8Bom << u"a"_s << TextEncoding::Utf8WithBom;
    QTest::newRow("UTF-16 LE doubled mark: both dropped")
            << (utf16LEBom + encoded(QStringConverter::Utf16LE, u"a"_s, true)) << utf16LEBom
            << u"a"_s << TextEncoding::Utf16LE;
    QTest::newRow("U+FEFF after the first character is kept")
            << (utf8Bom + QStringLiteral(u"a\uFEFFb").toUtf8()) << utf8Bom
            << QStringLiteral(u"a\uFEFFb") << TextEncoding::Utf8WithBom;
    QTest::newRow("UTF-8 mark alone: empty text")
            << utf8Bom << utf8Bom << QString() << TextEncoding::Utf8WithBom;
    QTest::newRow("UTF-16 LE mark alone: empty text")
            << utf16LEBom << utf16LEBom << QString() << TextEncoding::Utf16LE;
    QTest::newRow("UTF-32 BE mark alone: empty text")
            << utf32BEBom << utf32BEBom << QString() << TextEncoding::Utf32BE;
    QTest::newRow("empty file") << QByteArray() << QByteArray() << QString() << TextEncoding::Utf8;
}

void tst_TextFile::decodesByteOrderMarks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expectedMark);
    QFETCH(QString, expectedText);
    QFETCH(TextEncoding, expectedEncoding);

    // The bytes built for the row do start with the mark they are meant to carry.
    QVERIFY(bytes.startsWith(expectedMark));

    const DecodedText decoded = decodeText(bytes);
    QCOMPARE(decoded.encoding, expectedEncoding);
    QCOMPARE(decoded.text, expectedText);
    QCOMPARE(decoded.safety, TextSafety::Rewritable);
}

void tst_TextFile::judgesSafety_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<TextSafety>("expectedSafety");

    const auto rewritable = TextSafety::Rewritable;
    const auto nul = TextSafety::HasNulBytes;
    const auto invalid = TextSafety::InvalidBytes;

    // UTF-8 without a mark
    QTest::newRow("ASCII") << QByteArray("host=prod.example.com\n") << rewritable;
    QTest::newRow("French UTF-8") << QStringLiteral(u"hôte=serveur-été\nmot=œuvre «x»\n").toUtf8()
                                  << rewritable;
    QTest::newRow("CJK and emoji UTF-8") << QStringLiteral(u"名前=値 😀\n").toUtf8() << rewritable;
    QTest::newRow("empty") << QByteArray() << rewritable;
    // Bytes outside well-formed sequences come back as they were.
    QTest::newRow("Windows-1252 caf\\xE9") << QByteArray("caf\xE9\n") << rewritable;
    QTest::newRow("Windows-1252 quotes") << QByteArray("\x93x\x94\n") << rewritable;
    QTest::newRow("stray continuation byte") << QByteArray("a\x80z") << rewritable;
    QTest::newRow("truncated 2-byte sequence at the end") << QByteArray("caf\xC3") << rewritable;
    QTest::newRow("truncated 3-byte sequence at the end") << QByteArray("x=\xE2\x82") << rewritable;
    QTest::newRow("truncated 4-byte sequence at the end")
            << QByteArray("x=\xF0\x9F\x98") << rewritable;
    QTest::newRow("truncated sequence mid-line") << QByteArray("a\xC3z\n") << rewritable;
    QTest::newRow("encoded surrogate ED A0 80") << QByteArray("a\xED\xA0\x80z") << rewritable;
    QTest::newRow("encoded surrogate pair as two sequences")
            << QByteArray("\xED\xA0\xBD\xED\xB8\x80") << rewritable;
    QTest::newRow("overlong slash C0 AF") << QByteArray("a\xC0\xAFz") << rewritable;
    QTest::newRow("overlong NUL C0 80") << QByteArray("a\xC0\x80z") << rewritable;
    QTest::newRow("beyond U+10FFFF") << QByteArray("a\xF4\x90\x80\x80z") << rewritable;
    QTest::newRow("byte FF") << QByteArray("a\xFFz") << rewritable;
    QTest::newRow("NUL in ASCII text") << QByteArray("a=1\0b=2\n", 8) << nul;
    QTest::newRow("PNG header") << QByteArray("\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR", 16) << nul;
    QTest::newRow("NUL after UTF-8 mark") << QByteArray("\xEF\xBB\xBF"
                                                        "a\0",
                                                        5)
                                          << nul;

    // UTF-8 with a mark
    QTest::newRow("UTF-8 mark then valid text")
            << (utf8Bom + QStringLiteral(u"é\n").toUtf8()) << rewritable;
    QTest::newRow("first two bytes of a UTF-8 mark only") << QByteArray("\xEF\xBB"
                                                                        "a")
                                                          << rewritable;
    QTest::newRow("UTF-8 mark then Windows-1252") << (utf8Bom + "caf\xE9") << rewritable;

    // UTF-16 and UTF-32: their NUL bytes are part of the characters.
    const QString text = QStringLiteral(u"host=prod\r\nnom=Élodie 😀\n");
    QTest::newRow("UTF-16 LE ASCII-heavy text")
            << encoded(QStringConverter::Utf16LE, text, true) << rewritable;
    QTest::newRow("UTF-16 BE ASCII-heavy text")
            << encoded(QStringConverter::Utf16BE, text, true) << rewritable;
    QTest::newRow("UTF-32 LE text") << encoded(QStringConverter::Utf32LE, text, true) << rewritable;
    QTest::newRow("UTF-32 BE text") << encoded(QStringConverter::Utf32BE, text, true) << rewritable;
    QTest::newRow("UTF-16 LE holding U+FFFE") << (utf16LEBom
                                                  + QByteArray("\xFE\xFF"
                                                               "a\0",
                                                               4))
                                              << rewritable;
    QTest::newRow("UTF-16 LE holding a NUL character")
            << encoded(QStringConverter::Utf16LE, QStringView(u"a\0b", 3).toString(), true) << nul;
    QTest::newRow("UTF-32 BE holding a NUL character")
            << encoded(QStringConverter::Utf32BE, QStringView(u"a\0b", 3).toString(), true) << nul;

    // Broken UTF-16 and UTF-32: written back as UTF-8 they would lose or change characters.
    QTest::newRow("UTF-16 LE unpaired high surrogate") << (utf16LEBom
                                                           + QByteArray("a\0\x00\xD8"
                                                                        "b\0",
                                                                        6))
                                                       << invalid;
    QTest::newRow("UTF-16 LE unpaired low surrogate") << (utf16LEBom
                                                          + QByteArray("a\0\x00\xDC"
                                                                       "b\0",
                                                                       6))
                                                      << invalid;
    QTest::newRow("UTF-16 BE reversed surrogate pair")
            << (utf16BEBom + QByteArray("\xDE\x00\xD8\x3D", 4)) << invalid;
    QTest::newRow("UTF-16 LE high surrogate cut off at the end")
            << (utf16LEBom + QByteArray("a\0\x3D\xD8", 4)) << invalid;
    QTest::newRow("UTF-16 LE odd number of bytes")
            << (utf16LEBom + QByteArray("a\0b", 3)) << invalid;
    QTest::newRow("UTF-16 BE odd number of bytes")
            << (utf16BEBom + QByteArray("\0a\0", 3)) << invalid;
    QTest::newRow("UTF-32 LE surrogate code point")
            << (utf32LEBom + QByteArray("\x00\xD8\x00\x00", 4)) << invalid;
    QTest::newRow("UTF-32 BE code point beyond U+10FFFF")
            << (utf32BEBom + QByteArray("\x00\x11\x00\x00", 4)) << invalid;
    // 0x04010000 would come out as the surrogate pair of U+10000 if taken modulo 2^16.
    QTest::newRow("UTF-32 LE code point far beyond U+10FFFF")
            << (utf32LEBom + QByteArray("\x00\x00\x01\x04", 4)) << invalid;
    QTest::newRow("UTF-32 BE surrogate pair as two code units")
            << (utf32BEBom + QByteArray("\x00\x00\xD8\x3D\x00\x00\xDE\x00", 8)) << invalid;
    QTest::newRow("UTF-32 LE length not a multiple of four")
            << (utf32LEBom + QByteArray("a\0\0\0b\0", 6)) << invalid;
}

void tst_TextFile::judgesSafety()
{
    QFETCH(QByteArray, bytes);
    QFETCH(TextSafety, expectedSafety);

    const DecodedText decoded = decodeText(bytes);
    QCOMPARE(decoded.safety, expectedSafety);

    if (expectedSafety == TextSafety::Rewritable) {
        // Rewritable means no byte is lost: the text encodes back to the very bytes read.
        const QByteArray body = bytes.mid(byteOrderMarkSize(decoded.encoding));
        QByteArray again;
        QStringEncoder encoder(converterFor(decoded.encoding));
        if (converterFor(decoded.encoding) == QStringConverter::Utf8)
            appendUtf8Escaped(again, decoded.text);
        else
            again = encoder.encode(decoded.text);
        QCOMPARE(again, body);
    }
    // What the journal shows of UTF-8 text is well formed, whatever the bytes.
    if (converterFor(decoded.encoding) == QStringConverter::Utf8)
        QVERIFY(readableText(decoded.text).isValidUtf16());
}

void tst_TextFile::splitsLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expectedLines");

    QTest::newRow("empty text: no line") << QString() << QStringList();
    QTest::newRow("lone line feed: one empty line")
            << QStringLiteral("\n") << QStringList{ QString() };
    QTest::newRow("two line feeds: two empty lines")
            << QStringLiteral("\n\n") << QStringList{ QString(), QString() };
    QTest::newRow("LF lines") << QStringLiteral("a\nb\n") << QStringList{ "a", "b" };
    QTest::newRow("last line without LF") << QStringLiteral("a\nb") << QStringList{ "a", "b" };
    QTest::newRow("single line without LF") << QStringLiteral("abc") << QStringList{ "abc" };
    QTest::newRow("empty line in the middle")
            << QStringLiteral("a\n\nb") << QStringList{ "a", QString(), "b" };
    QTest::newRow("CRLF: CR dropped") << QStringLiteral("a\r\n") << QStringList{ "a" };
    QTest::newRow("CRLF lines, last without terminator")
            << QStringLiteral("a\r\nb\r\nc") << QStringList{ "a", "b", "c" };
    QTest::newRow("mixed CRLF and LF")
            << QStringLiteral("a\r\nb\nc\r\n") << QStringList{ "a", "b", "c" };
    QTest::newRow("CRLF alone: one empty line")
            << QStringLiteral("\r\n") << QStringList{ QString() };
    QTest::newRow("lone CR mid-line kept") << QStringLiteral("a\rb\n") << QStringList{ "a\rb" };
    QTest::newRow("lone CR alone kept") << QStringLiteral("\r") << QStringList{ "\r" };
    QTest::newRow("CR at the end without LF kept") << QStringLiteral("x\r") << QStringList{ "x\r" };
    QTest::newRow("CR CR LF: only the last CR dropped")
            << QStringLiteral("a\r\r\n") << QStringList{ "a\r" };
    QTest::newRow("old Mac CR-only text is one line")
            << QStringLiteral("a\rb\rc\r") << QStringList{ "a\rb\rc\r" };
    QTest::newRow("LF CR: CR starts the next line")
            << QStringLiteral("a\n\rb") << QStringList{ "a", "\rb" };
    QTest::newRow("non-ASCII lines")
            << QStringLiteral(u"clé=é\r\n😀\n日本") << QStringList{ u"clé=é"_s, u"😀"_s, u"日本"_s };
    QTest::newRow("spaces kept") << QStringLiteral("  a  \n\t\n") << QStringList{ "  a  ", "\t" };
}

void tst_TextFile::splitsLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expectedLines);
    QCOMPARE(splitLines(text), expectedLines);
}

void tst_TextFile::encodesLines_data()
{
    QTest::addColumn<QStringList>("lines");
    // "\n" stands for the platform's terminator.
    QTest::addColumn<QByteArray>("expectedBytes");

    QTest::newRow("no line: no byte") << QStringList() << QByteArray();
    QTest::newRow("one empty line") << QStringList{ QString() } << QByteArray("\n");
    QTest::newRow("every line terminated, the last one too")
            << QStringList{ "a", "b" } << QByteArray("a\nb\n");
    QTest::newRow("UTF-8 without a mark")
            << QStringList{ u"clé"_s, u"😀"_s } << QByteArray("cl\xC3\xA9\n\xF0\x9F\x98\x80\n");
    QTest::newRow("lone CR kept") << QStringList{ "a\rb" } << QByteArray("a\rb\n");
    QTest::newRow("bytes kept from a Latin-1 file")
            << QStringList{ u"caf"_s + QChar(0xDCE9) } << QByteArray("caf\xE9\n");
    QTest::newRow("a start that would read as a UTF-16 mark keeps the UTF-8 mark")
            << QStringList{ QString(QChar(0xDCFF)) + QChar(0xDCFE) + u'a' }
            << QByteArray("\xEF\xBB\xBF\xFF\xFE"
                          "a\n");
    QTest::newRow("NUL character written as is")
            << QStringList{ QStringView(u"a\0b", 3).toString() } << QByteArray("a\0b\n", 4);
}

void tst_TextFile::encodesLines()
{
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, expectedBytes);

#ifdef Q_OS_WIN
    QCOMPARE(nativeLineTerminator(), QByteArray("\r\n"));
#else
    QCOMPARE(nativeLineTerminator(), QByteArray("\n"));
#endif
    expectedBytes.replace('\n', nativeLineTerminator());
    QCOMPARE(encodeLines(lines), expectedBytes);
}

void tst_TextFile::roundTripsLineFeedText_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("withMark");

    for (quint32 seed : { 1u, 7u, 2024u, 31337u }) {
        QTest::addRow("seed %u", seed) << seed << false;
        QTest::addRow("seed %u, UTF-8 mark", seed) << seed << true;
    }
}

// Random text made of LF-terminated lines, decoded, split and encoded again, gives back the
// same bytes (minus a UTF-8 mark, which is never written).
void tst_TextFile::roundTripsLineFeedText()
{
    QFETCH(quint32, seed);
    QFETCH(bool, withMark);

    QRandomGenerator random(seed);
    const QStringList pieces = {
        u"a"_s,  u"Z"_s,  u"9"_s,    u" "_s, u"="_s, u"\t"_s, u"#"_s,  u"/"_s,      u"\\"_s,
        u"é"_s,  u"è"_s,  u"à"_s,    u"ç"_s, u"œ"_s, u"É"_s,  u"Ç"_s,  u"«"_s,      u"»"_s,
        u"日"_s, u"本"_s, u"設定"_s, u"😀"_s, u"🚀"_s, u"𝄞"_s,  u"\r"_s, u"\u00A0"_s,
    };

    for (int round = 0; round < 300; ++round) {
        QStringList lines;
        const int lineCount = random.bounded(12);
        for (int l = 0; l < lineCount; ++l) {
            QString line;
            const int length = random.bounded(4) == 0 ? 0 : random.bounded(1, 30);
            for (int c = 0; c < length; ++c)
                line += pieces.at(random.bounded(pieces.size()));
            // A CR right before the LF would be a CRLF terminator, not part of the line.
            if (line.endsWith(u'\r'))
                line += u'x';
            lines.append(line);
        }

        QByteArray bytes = withMark ? utf8Bom : QByteArray();
        for (const QString &line : lines)
            bytes += line.toUtf8() + '\n';

        const DecodedText decoded = decodeText(bytes);
        QCOMPARE(decoded.safety, TextSafety::Rewritable);
        QCOMPARE(decoded.encoding, withMark ? TextEncoding::Utf8WithBom : TextEncoding::Utf8);
        const QStringList split = splitLines(decoded.text);
        QCOMPARE(split, lines);

        QByteArray expected = bytes.mid(withMark ? utf8Bom.size() : 0);
        expected.replace('\n', nativeLineTerminator());
        const QByteArray written = encodeLines(split);
        if (written != expected)
            QFAIL(qPrintable(QStringLiteral("round %1: %2 became %3")
                                     .arg(round)
                                     .arg(QString::fromLatin1(bytes.toHex(' ')),
                                          QString::fromLatin1(written.toHex(' ')))));
#ifndef Q_OS_WIN
        QCOMPARE(written.size(), bytes.size() - (withMark ? utf8Bom.size() : 0));
#endif
    }
}

void tst_TextFile::explainsUnsafeText_data()
{
    QTest::addColumn<TextSafety>("safety");
    QTest::addColumn<QString>("expectedWord");

    QTest::newRow("rewritable: no reason") << TextSafety::Rewritable << QString();
    QTest::newRow("NUL bytes") << TextSafety::HasNulBytes << QStringLiteral("octets nuls");
    QTest::newRow("invalid bytes") << TextSafety::InvalidBytes << QStringLiteral("UTF-16");
}

void tst_TextFile::explainsUnsafeText()
{
    QFETCH(TextSafety, safety);
    QFETCH(QString, expectedWord);

    const QString reason = textSafetyReason(safety);
    if (expectedWord.isEmpty()) {
        QVERIFY(reason.isEmpty());
        return;
    }
    QVERIFY2(reason.startsWith(QStringLiteral("Fichier laissé intact")), qPrintable(reason));
    QVERIFY2(reason.contains(expectedWord), qPrintable(reason));
}

QTEST_GUILESS_MAIN(tst_TextFile)
#include "tst_textformat.moc"
