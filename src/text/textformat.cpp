#include "text/textformat.h"

#include "text/valuefinder.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cstring>

namespace {

struct ByteOrderMark
{
    QByteArrayView bytes;
    TextEncoding encoding;
    QStringConverter::Encoding converter;
};

// UTF-32 LE must be tested before UTF-16 LE: its mark starts with the same two bytes.
const ByteOrderMark byteOrderMarks[] = {
    { QByteArrayView("\xEF\xBB\xBF", 3), TextEncoding::Utf8WithBom, QStringConverter::Utf8 },
    { QByteArrayView("\xFF\xFE\x00\x00", 4), TextEncoding::Utf32LE, QStringConverter::Utf32LE },
    { QByteArrayView("\x00\x00\xFE\xFF", 4), TextEncoding::Utf32BE, QStringConverter::Utf32BE },
    { QByteArrayView("\xFF\xFE", 2), TextEncoding::Utf16LE, QStringConverter::Utf16LE },
    { QByteArrayView("\xFE\xFF", 2), TextEncoding::Utf16BE, QStringConverter::Utf16BE },
};

// Whether text, decoded from body, encodes back to the same bytes. The decoder drops a second
// byte-order mark at the start of body, which is no loss worth refusing the file for.
bool decodesExactly(QByteArrayView body, const QString &text, QStringConverter::Encoding converter)
{
    if (!text.isValidUtf16())
        return false;
    QStringEncoder encoder(converter, QStringConverter::Flag::Stateless);
    const QByteArray again = encoder.encode(text);
    if (encoder.hasError())
        return false;
    if (again == body)
        return true;
    const QByteArray mark = encoder.encode(QStringView(u"\uFEFF"));
    return body.startsWith(mark) && again == body.sliced(mark.size());
}

// Finds the byte-order mark at the start of bytes, if any; returns its size.
qsizetype findByteOrderMark(QByteArrayView bytes, TextEncoding &encoding,
                            QStringConverter::Encoding &converter)
{
    for (const ByteOrderMark &mark : byteOrderMarks) {
        if (bytes.startsWith(mark.bytes)) {
            encoding = mark.encoding;
            converter = mark.converter;
            return mark.bytes.size();
        }
    }
    return 0;
}

} // namespace

TextEncoding encodingOf(QByteArrayView bytes, qsizetype *markSize)
{
    TextEncoding encoding = TextEncoding::Utf8;
    QStringConverter::Encoding converter = QStringConverter::Utf8;
    const qsizetype size = findByteOrderMark(bytes, encoding, converter);
    if (markSize)
        *markSize = size;
    return encoding;
}

LineSpan lineFrom(QByteArrayView text, qsizetype from)
{
    return lineFrom(
            from, text.size(), 1,
            [&](qsizetype at) -> qsizetype {
                const void *found = std::memchr(text.data() + at, '\n', size_t(text.size() - at));
                return found ? static_cast<const char *>(found) - text.data() : -1;
            },
            [&](qsizetype at) { return text.at(at) == '\r'; });
}

LineSpan lineFrom(QStringView text, qsizetype from)
{
    return lineFrom(
            from, text.size(), 1, [&](qsizetype at) { return text.indexOf(u'\n', at); },
            [&](qsizetype at) { return text.at(at) == u'\r'; });
}

DecodedText decodeText(const QByteArray &bytes)
{
    DecodedText result;
    QStringConverter::Encoding converter = QStringConverter::Utf8;
    const qsizetype start = findByteOrderMark(bytes, result.encoding, converter);
    const QByteArrayView body = QByteArrayView(bytes).sliced(start);

    if (converter == QStringConverter::Utf8) {
        // In UTF-8 a NUL byte is a NUL character; every other byte comes back as it was.
        if (body.contains('\0'))
            result.safety = TextSafety::HasNulBytes;
        result.text = decodeUtf8Escaped(body);
        // A second byte-order mark right after the first one is dropped as well.
        if (result.text.startsWith(QChar(0xFEFF)))
            result.text.remove(0, 1);
        return result;
    }

    QStringDecoder decoder(converter, QStringConverter::Flag::Stateless);
    result.text = decoder.decode(body);
    // Qt's UTF-16 and UTF-32 decoders let some broken input through without an error: unpaired
    // surrogates, a last code unit cut short, code points beyond U+10FFFF. Text read from such
    // bytes would not be written back as it was.
    if (decoder.hasError() || !decodesExactly(body, result.text, converter))
        result.safety = TextSafety::InvalidBytes;
    else if (result.text.contains(QChar(u'\0')))
        result.safety = TextSafety::HasNulBytes;
    return result;
}

QString decodeUtf8Escaped(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless
                                   | QStringConverter::Flag::ConvertInitialBom);
    if (isValidUtf8(bytes))
        return decoder.decode(bytes);
    QString text;
    text.reserve(bytes.size());
    const auto *const data = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = data + bytes.size();
    const uchar *run = data; // start of the well-formed bytes not yet decoded
    for (const uchar *p = data; p < end;) {
        const qsizetype length = utf8SequenceLength(p, end);
        if (length) {
            p += length;
            continue;
        }
        text += decoder.decode(QByteArrayView(run, p - run));
        text += QChar(char16_t(0xDC00 + *p));
        run = ++p;
    }
    text += decoder.decode(QByteArrayView(run, end - run));
    return text;
}

namespace {

// Whether the code unit at i of text is a lone surrogate that stands for an undecodable byte.
bool isEscapedByte(QStringView text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    return c >= 0xDC80 && c <= 0xDCFF && !(i > 0 && text.at(i - 1).isHighSurrogate());
}

} // namespace

void appendUtf8Escaped(QByteArray &out, QStringView text)
{
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text.at(i).isLowSurrogate() || !isEscapedByte(text, i))
            continue;
        out += text.sliced(done, i - done).toUtf8();
        out += char(text.at(i).unicode() - 0xDC00);
        done = i + 1;
    }
    out += done ? text.sliced(done).toUtf8() : text.toUtf8();
}

QString readableText(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isLowSurrogate() && isEscapedByte(text, i)) {
            const char16_t byte = text.at(i).unicode() - 0xDC00;
            text[i] = byte >= 0xA0 ? QChar(byte) : QChar::ReplacementCharacter;
        }
    }
    return text;
}

TextLines decodeLines(const QByteArray &bytes)
{
    TextLines result;
    const DecodedText decoded = decodeText(bytes);
    if (decoded.safety != TextSafety::InvalidBytes) {
        result.lines = splitLines(decoded.text);
        for (const QString &line : std::as_const(result.lines)) {
            bool clean = !line.contains(QChar(u'\0'));
            for (qsizetype i = 0; clean && i < line.size(); ++i)
                clean = !line.at(i).isLowSurrogate() || !isEscapedByte(line, i);
            result.clean.append(clean);
        }
        return result;
    }

    // Broken UTF-16 or UTF-32: each line is decoded on its own, so that the broken code units
    // are known by the line that holds them.
    TextEncoding encoding = TextEncoding::Utf8;
    QStringConverter::Encoding converter = QStringConverter::Utf8;
    const QByteArrayView body =
            QByteArrayView(bytes).sliced(findByteOrderMark(bytes, encoding, converter));
    const qsizetype unit =
            encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE ? 2 : 4;
    const bool bigEndian = encoding == TextEncoding::Utf16BE || encoding == TextEncoding::Utf32BE;
    auto unitAt = [&](qsizetype at) {
        quint32 value = 0;
        for (qsizetype k = 0; k < unit; ++k)
            value |= quint32(uchar(body.at(at + k))) << (8 * (bigEndian ? unit - 1 - k : k));
        return value;
    };
    const auto nextFeed = [&](qsizetype at) -> qsizetype {
        for (; at + unit <= body.size(); at += unit) {
            if (unitAt(at) == u'\n')
                return at;
        }
        return -1;
    };
    const auto isReturn = [&](qsizetype at) { return unitAt(at) == u'\r'; };
    for (qsizetype start = 0; start < body.size();) {
        const LineSpan line = lineFrom(start, body.size(), unit, nextFeed, isReturn);
        const QByteArrayView raw = body.sliced(start, line.end - start);
        QStringDecoder decoder(converter,
                               start == 0 ? QStringConverter::Flag::Stateless
                                          : QStringConverter::Flag::Stateless
                                               | QStringConverter::Flag::ConvertInitialBom);
        const QString text = decoder.decode(raw);
        result.lines.append(text);
        result.clean.append(!decoder.hasError() && decodesExactly(raw, text, converter)
                            && !text.contains(QChar(u'\0')));
        start = line.next;
    }
    return result;
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    for (qsizetype start = 0; start < text.size();) {
        const LineSpan line = lineFrom(QStringView(text), start);
        lines.append(text.sliced(start, line.end - start));
        start = line.next;
    }
    return lines;
}

QByteArray encodeLines(const QStringList &lines)
{
    const QByteArray terminator = nativeLineTerminator();
    qsizetype estimate = 0;
    for (const QString &line : lines)
        estimate += line.size() + terminator.size();
    QByteArray bytes;
    bytes.reserve(estimate);
    for (const QString &line : lines) {
        appendUtf8Escaped(bytes, line);
        bytes += terminator;
    }
    return bytes.prepend(markToKeep(bytes));
}

QByteArrayView markToKeep(QByteArrayView written)
{
    const TextEncoding encoding = encodingOf(written);
    if (encoding != TextEncoding::Utf8 && encoding != TextEncoding::Utf8WithBom)
        return byteOrderMarks[0].bytes;
    return {};
}

QString textSafetyReason(TextSafety safety)
{
    switch (safety) {
    case TextSafety::Rewritable:
        break;
    case TextSafety::HasNulBytes:
        return QCoreApplication::translate("MainWindow",
                                           "Fichier laissé intact : il contient des octets nuls "
                                           "(fichier binaire), sa réécriture l'endommagerait.");
    case TextSafety::InvalidBytes:
        return QCoreApplication::translate("MainWindow",
                                           "Fichier laissé intact : son texte UTF-16 ou UTF-32 est "
                                           "abîmé, sa réécriture en altérerait des caractères.");
    }
    return QString();
}
