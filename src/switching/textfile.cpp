#include "switching/textfile.h"

#include "switching/bytesearch.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QStringEncoder>

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
    const QByteArrayView body = QByteArrayView(bytes).sliced(findByteOrderMark(bytes, encoding, converter));
    const qsizetype unit = encoding == TextEncoding::Utf16LE || encoding == TextEncoding::Utf16BE ? 2 : 4;
    const bool bigEndian = encoding == TextEncoding::Utf16BE || encoding == TextEncoding::Utf32BE;
    auto unitAt = [&](qsizetype at) {
        quint32 value = 0;
        for (qsizetype k = 0; k < unit; ++k)
            value |= quint32(uchar(body.at(at + k))) << (8 * (bigEndian ? unit - 1 - k : k));
        return value;
    };
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = start;
        while (end + unit <= body.size() && unitAt(end) != u'\n')
            end += unit;
        const bool ended = end + unit <= body.size();
        if (!ended)
            end = body.size();
        qsizetype lineEnd = end;
        if (ended && lineEnd - start >= unit && unitAt(lineEnd - unit) == u'\r')
            lineEnd -= unit;
        const QByteArrayView raw = body.sliced(start, lineEnd - start);
        QStringDecoder decoder(converter, start == 0 ? QStringConverter::Flag::Stateless
                                                     : QStringConverter::Flag::Stateless
                                                             | QStringConverter::Flag::ConvertInitialBom);
        const QString line = decoder.decode(raw);
        result.lines.append(line);
        result.clean.append(!decoder.hasError() && decodesExactly(raw, line, converter)
                            && !line.contains(QChar(u'\0')));
        start = end + unit;
    }
    return result;
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = text.indexOf(u'\n', start);
        const bool lastWithoutFeed = end < 0;
        if (lastWithoutFeed)
            end = size;
        qsizetype lineEnd = end;
        if (!lastWithoutFeed && lineEnd > start && text.at(lineEnd - 1) == u'\r')
            --lineEnd;
        lines.append(text.sliced(start, lineEnd - start));
        start = end + 1;
    }
    return lines;
}

QByteArray nativeLineTerminator()
{
#ifdef Q_OS_WIN
    return QByteArrayLiteral("\r\n");
#else
    return QByteArrayLiteral("\n");
#endif
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
    if (written.startsWith("\xFF\xFE") || written.startsWith("\xFE\xFF")
        || written.startsWith(QByteArrayView("\x00\x00\xFE\xFF", 4)))
        return QByteArrayView("\xEF\xBB\xBF", 3);
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
