#include "switching/textfile.h"

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

} // namespace

DecodedText decodeText(const QByteArray &bytes)
{
    DecodedText result;
    QStringConverter::Encoding converter = QStringConverter::Utf8;
    qsizetype start = 0;
    for (const ByteOrderMark &mark : byteOrderMarks) {
        if (QByteArrayView(bytes).startsWith(mark.bytes)) {
            result.encoding = mark.encoding;
            converter = mark.converter;
            start = mark.bytes.size();
            break;
        }
    }

    const QByteArrayView body = QByteArrayView(bytes).sliced(start);
    // In UTF-8 a NUL byte is a NUL character; in the wider encodings it only is once decoded.
    const bool utf8 = converter == QStringConverter::Utf8;
    if (utf8 && body.contains('\0'))
        result.safety = TextSafety::HasNulBytes;

    QStringDecoder decoder(converter, QStringConverter::Flag::Stateless);
    result.text = decoder.decode(body);
    // Qt's UTF-16 and UTF-32 decoders let some broken input through without an error: unpaired
    // surrogates, a last code unit cut short, code points beyond U+10FFFF. Text read from such
    // bytes would not be written back as it was.
    const bool broken =
            decoder.hasError() || (!utf8 && !decodesExactly(body, result.text, converter));
    if (broken) {
        if (result.safety == TextSafety::Rewritable)
            result.safety = TextSafety::InvalidBytes;
    } else if (!utf8 && result.text.contains(QChar(u'\0'))) {
        result.safety = TextSafety::HasNulBytes;
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
        bytes += line.toUtf8();
        bytes += terminator;
    }
    return bytes;
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
                                           "Fichier laissé intact : son contenu n'est pas du texte "
                                           "UTF-8 valide, sa réécriture en altérerait des caractères.");
    }
    return QString();
}
