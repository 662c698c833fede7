// Fuzz target: deciding whether a file may be rewritten, and rewriting it.
//
// The input is the content of a file of the tree. Checked for every input:
// - the verdict (rewritable, NUL bytes, invalid bytes) is the one of a strict decoder written
//   here from the Unicode encoding forms: any bytes without NUL in UTF-8 (those outside
//   well-formed sequences are kept as they are); UTF-16 and UTF-32 after their byte-order mark
//   with whole code units, paired surrogates and code points up to U+10FFFF;
// - a file judged rewritable that holds no value is written back as the same bytes, apart from
//   the line-end and byte-order-mark rules: the mark is dropped, UTF-16/32 becomes UTF-8, CRLF
//   becomes LF and the last line gets its LF;
// - a UTF-8 file, well formed or not, reads as the escaping decoder written here reads it, and
//   the journal's view of its text is well-formed UTF-16;
// - with values taken from the file's own text, the switch of the file (pre-check, new bytes,
//   journal records, whole or written in pieces) is the one of the plain line-by-line way:
//   decode, split, replace each line, encode; a file that is not rewritable gets no bytes;
// - the same for a UTF-8 file made of the input's ASCII bytes and of letters whose case forms
//   differ in length, or lie beyond ASCII in one form only, or beyond the BMP (one for each
//   other byte), with values cut from it and their letters put in other forms, with and
//   without case.

#include "fuzzcheck.h"

#include "switching/fileswitch.h"
#include "text/linereplacer.h"
#include "text/textformat.h"

#include <iterator>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

enum class Verdict { Rewritable, Nul, Invalid };

void appendUtf8(QByteArray &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// The length of the well-formed sequence at i, or 0.
qsizetype sequenceAt(QByteArrayView bytes, qsizetype i)
{
    const qsizetype n = bytes.size();
    auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned c = at(i);
    if (c < 0x80)
        return 1;
    int following = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        following = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        following = 2;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        following = 3;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + following >= n)
        return 0;
    for (int k = 1; k <= following; ++k) {
        const unsigned b = at(i + k);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
            return 0;
    }
    return following + 1;
}

// UTF-8 read sequence by sequence, each byte outside a well-formed one as U+DC80 + (byte - 0x80).
QString escapedUtf8(QByteArrayView bytes)
{
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = sequenceAt(bytes, i);
        if (length == 0) {
            text += QChar(char16_t(0xDC00 + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        static const unsigned leadMasks[] = { 0, 0x7F, 0x1F, 0x0F, 0x07 };
        char32_t c = static_cast<unsigned char>(bytes[i]) & leadMasks[length];
        for (qsizetype k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        if (c < 0x10000) {
            text += QChar(char16_t(c));
        } else {
            text += QChar(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            text += QChar(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
        i += length;
    }
    return text;
}

// Decodes UTF-16 or UTF-32 strictly into UTF-8; nothing when the bytes are not well formed.
std::optional<QByteArray> wideToUtf8(QByteArrayView body, int unit, bool bigEndian)
{
    if (body.size() % unit != 0)
        return std::nullopt;
    auto read = [&](qsizetype i) {
        char32_t v = 0;
        for (int k = 0; k < unit; ++k) {
            const unsigned b = static_cast<unsigned char>(body[i * unit + k]);
            v |= char32_t(b) << (8 * (bigEndian ? unit - 1 - k : k));
        }
        return v;
    };
    QByteArray out;
    const qsizetype units = body.size() / unit;
    for (qsizetype i = 0; i < units; ++i) {
        char32_t c = read(i);
        if (unit == 2 && c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == units)
                return std::nullopt;
            const char32_t next = read(i + 1);
            if (next < 0xDC00 || next > 0xDFFF)
                return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            return std::nullopt;
        }
        appendUtf8(out, c);
    }
    return out;
}

struct Expected
{
    Verdict verdict = Verdict::Rewritable;
    QByteArray rewritten; // when rewritable and no value is in the file
};

Expected expectedFor(const QByteArray &bytes)
{
    struct Mark
    {
        QByteArrayView bytes;
        int unit;
        bool bigEndian;
    };
    const Mark marks[] = {
        { QByteArrayView("\xEF\xBB\xBF", 3), 1, false },
        { QByteArrayView("\xFF\xFE\x00\x00", 4), 4, false },
        { QByteArrayView("\x00\x00\xFE\xFF", 4), 4, true },
        { QByteArrayView("\xFF\xFE", 2), 2, false },
        { QByteArrayView("\xFE\xFF", 2), 2, true },
    };
    int unit = 1;
    bool bigEndian = false;
    QByteArrayView body = bytes;
    for (const Mark &mark : marks) {
        if (body.startsWith(mark.bytes)) {
            unit = mark.unit;
            bigEndian = mark.bigEndian;
            body = body.sliced(mark.bytes.size());
            break;
        }
    }

    Expected expected;
    QByteArray utf8;
    if (unit == 1) {
        if (body.contains('\0'))
            expected.verdict = Verdict::Nul;
        utf8 = body.toByteArray();
    } else {
        const std::optional<QByteArray> decoded = wideToUtf8(body, unit, bigEndian);
        if (!decoded)
            expected.verdict = Verdict::Invalid;
        else if (decoded->contains('\0'))
            expected.verdict = Verdict::Nul;
        else
            utf8 = *decoded;
    }
    if (expected.verdict != Verdict::Rewritable)
        return expected;

    // A second byte-order mark at the start of the text is not kept.
    if (utf8.startsWith("\xEF\xBB\xBF"))
        utf8.remove(0, 3);
    utf8.replace(QByteArrayView("\r\n"), QByteArrayView("\n"));
    if (!utf8.isEmpty() && !utf8.endsWith('\n'))
        utf8.append('\n');
    // Bytes that would read as a UTF-16 mark keep the UTF-8 one.
    if (utf8.startsWith("\xFF\xFE") || utf8.startsWith("\xFE\xFF"))
        utf8.prepend("\xEF\xBB\xBF");
    expected.rewritten = utf8;
    return expected;
}

Verdict verdictOf(TextSafety safety)
{
    switch (safety) {
    case TextSafety::Rewritable:
        return Verdict::Rewritable;
    case TextSafety::HasNulBytes:
        return Verdict::Nul;
    case TextSafety::InvalidBytes:
        break;
    }
    return Verdict::Invalid;
}

bool sameRecord(const LineRecord &a, const LineRecord &b)
{
    return a.kind == b.kind && a.before == b.before && a.after == b.after;
}

// Switches the file both ways (whole and in pieces) and compares with the line-by-line way.
void checkSwitch(const QByteArray &bytes, const QStringList &from, const QStringList &to,
                 bool caseSensitive)
{
    const DecodedText decoded = decodeText(bytes);
    const QStringList lines = splitLines(decoded.text);
    bool holds = false;
    QStringList newLines;
    QList<LineRecord> expectedRecords;
    for (const QString &line : lines) {
        holds = holds || lineHoldsAnyValue(line, from, caseSensitive);
        newLines.append(replaceValuesInLine(line, from, to, caseSensitive, &expectedRecords));
    }

    const SwitchValues values(from, to, caseSensitive);
    FUZZ_CHECK(fileHoldsAnyValue(bytes, values) == holds, "the pre-check answers wrongly");

    QList<LineRecord> records;
    const SwitchedFile whole =
            switchFileBytes(bytes, values, [&](const LineRecord &r) { records.append(r); });
    QByteArray pieces;
    int writes = 0;
    const SwitchedFile written = switchFileBytes(
            bytes, values, [](const LineRecord &) {},
            [&](QByteArrayView piece) {
                pieces.append(piece);
                ++writes;
            });

    FUZZ_CHECK(whole.safety == decoded.safety && written.safety == decoded.safety,
               "the switch judges the file otherwise than decoding does");
    if (decoded.safety != TextSafety::Rewritable) {
        FUZZ_CHECK(whole.bytes.isEmpty() && written.bytes.isEmpty() && writes == 0,
                   "bytes made for a file that must not be rewritten");
        FUZZ_CHECK(whole.holdsValue == holds, "wrong answer on a value in an unsafe file");
        return;
    }
    const QByteArray expectedBytes = encodeLines(newLines);
    if (whole.bytes != expectedBytes) {
        printLines("from", from);
        std::fprintf(stderr, "got %s\nexpected %s\n", whole.bytes.toHex().constData(),
                     expectedBytes.toHex().constData());
        fuzzFailure(__FILE__, __LINE__, "new bytes differ from the line-by-line switch");
    }
    FUZZ_CHECK(pieces == expectedBytes && written.bytes.isEmpty(),
               "the bytes written in pieces differ");
    FUZZ_CHECK(records.size() == expectedRecords.size(), "a different number of records");
    for (qsizetype i = 0; i < records.size(); ++i)
        FUZZ_CHECK(sameRecord(records.at(i), expectedRecords.at(i)), "a different record");
}

// Values cut from the text of the file, so that the switch has something to find: at most
// longest code units each.
QStringList valuesFrom(const QString &text, const QByteArray &bytes, int longest = 6)
{
    quint32 seed = 2166136261u;
    for (const char c : bytes)
        seed = (seed ^ quint8(c)) * 16777619u;
    QStringList values;
    if (text.isEmpty())
        return values;
    for (int i = 0; i < 3; ++i) {
        const qsizetype start = qsizetype((seed >> (i * 5)) % quint32(text.size()));
        const qsizetype length = 1 + qsizetype((seed >> (16 + i * 3)) % quint32(longest));
        values.append(text.mid(start, length).section(u'\n', 0, 0));
    }
    return values;
}

// Letters that the toolkit's case-insensitive search takes for one another although their forms
// differ in length, or lie beyond ASCII in one form only, or beyond the BMP; with look-alikes
// that it does not take for them.
const QStringList caseForms[] = {
    { u"é"_s, u"É"_s, u"e"_s },           { u"ß"_s, u"ẞ"_s, u"ss"_s },
    { u"σ"_s, u"ς"_s, u"Σ"_s },           { u"k"_s, u"K"_s, u"\u212A"_s },
    { u"s"_s, u"S"_s, u"ſ"_s },           { u"i"_s, u"I"_s, u"İ"_s, u"ı"_s },
    { u"ǆ"_s, u"ǅ"_s, u"Ǆ"_s, u"dž"_s },  { u"ﬁ"_s, u"fi"_s, u"FI"_s },
    { u"\U00010428"_s, u"\U00010400"_s }, { u"\u00B5"_s, u"\u03BC"_s, u"\u039C"_s },
};

// A UTF-8 file made of the input: its ASCII bytes as they are, each other byte as one of the
// forms above, or as a byte that is not UTF-8, or as U+FEFF.
QByteArray letteredFile(QByteArrayView input)
{
    QString text;
    for (const char c : input) {
        const auto byte = quint8(c);
        if (byte < 0x80)
            text += QLatin1Char(c);
        else if (byte >= 0xFE)
            text += byte == 0xFE ? QChar(0xDCE9) : QChar(0xFEFF);
        else
            text += caseForms[byte % std::size(caseForms)].value((byte >> 4) & 3, u"s"_s);
    }
    QByteArray bytes;
    appendUtf8Escaped(bytes, text);
    return bytes;
}

// The value with each letter above as another of its forms, chosen by seed.
QString recased(const QString &value, quint32 seed)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i, seed = seed * 1103515245u + 12345u) {
        const qsizetype width = value.at(i).isHighSurrogate() && i + 1 < value.size() ? 2 : 1;
        const QString letter = value.mid(i, width);
        i += width - 1;
        out += letter;
        for (const QStringList &forms : caseForms) {
            if (forms.contains(letter)) {
                out.chop(letter.size());
                out += forms.at(qsizetype((seed >> 16) % quint32(forms.size())));
                break;
            }
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const DecodedText decoded = decodeText(bytes);
    const Expected expected = expectedFor(bytes);
    if (verdictOf(decoded.safety) != expected.verdict) {
        std::fprintf(stderr, "verdict %d, expected %d\n", int(verdictOf(decoded.safety)),
                     int(expected.verdict));
        fuzzFailure(__FILE__, __LINE__, "the file is judged otherwise than by a strict decoder");
    }

    // Nothing to replace: the bytes come back, apart from the documented rules.
    if (!bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF")
        && !bytes.startsWith(QByteArrayView("\x00\x00\xFE\xFF", 4))) {
        QByteArrayView body = bytes;
        for (int mark = 0; mark < 2 && body.startsWith("\xEF\xBB\xBF"); ++mark)
            body = body.sliced(3);
        FUZZ_CHECK(decoded.text == escapedUtf8(body), "UTF-8 bytes read otherwise than escaped");
        FUZZ_CHECK(readableText(decoded.text).isValidUtf16(), "the journal would show broken text");
    }

    const QString absent = QStringLiteral("\u2603absent\u2603");
    if (!decoded.text.contains(absent, Qt::CaseInsensitive)) {
        const SwitchValues none({ absent }, { QStringLiteral("x") }, false);
        const SwitchedFile same = switchFileBytes(bytes, none, [](const LineRecord &) {
            fuzzFailure(__FILE__, __LINE__, "a record for a file without value");
        });
        if (expected.verdict == Verdict::Rewritable) {
            if (same.bytes != expected.rewritten) {
                std::fprintf(stderr, "got %s\nexpected %s\n", same.bytes.toHex().constData(),
                             expected.rewritten.toHex().constData());
                fuzzFailure(__FILE__, __LINE__, "a file without value does not round-trip");
            }
            FUZZ_CHECK(decodeText(same.bytes).safety == TextSafety::Rewritable,
                       "the bytes written back are not rewritable");
        }
    }

    const QStringList from = valuesFrom(decoded.text, bytes);
    QStringList to;
    for (qsizetype i = 0; i < from.size(); ++i)
        to.append(QStringLiteral("dév%1").arg(i));
    for (const bool caseSensitive : { true, false })
        checkSwitch(bytes, from, to, caseSensitive);
    // Values holding the letters above, in other forms than the text's.
    const QByteArray lettered = letteredFile(bytes);
    QStringList recasedValues;
    for (const QString &value : valuesFrom(decodeText(lettered).text, bytes, 12))
        recasedValues.append(recased(value, quint32(size) + quint32(recasedValues.size())));
    for (const bool caseSensitive : { true, false })
        checkSwitch(lettered, recasedValues, to, caseSensitive);
    // Values of other kinds: long ones (the window search), one with a long s.
    checkSwitch(bytes, { QStringLiteral("prod.example.org"), QStringLiteral("ſerveur") },
                { QStringLiteral("dev.example.org"), QStringLiteral("serveur-dev") }, false);
    return 0;
}
