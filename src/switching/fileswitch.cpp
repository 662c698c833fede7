#include "switching/fileswitch.h"

#include <cstring>

namespace {

constexpr QByteArrayView utf8Mark("\xEF\xBB\xBF", 3);

// Whether the bytes are UTF-8 as far as their start says: no mark of a wider encoding.
bool startsAsUtf8(const QByteArray &bytes)
{
    return !bytes.startsWith("\xFF\xFE") && !bytes.startsWith("\xFE\xFF")
            && !bytes.startsWith(QByteArrayView("\x00\x00\xFE\xFF", 4));
}

// The part of the bytes after a UTF-8 byte-order mark.
QByteArrayView textBody(const QByteArray &bytes)
{
    QByteArrayView body(bytes);
    return body.startsWith(utf8Mark) ? body.sliced(utf8Mark.size()) : body;
}

bool byteSearchApplies(const QByteArray &bytes, const SwitchValues &values)
{
    // Decoding drops a second byte-order mark right after the first: that text is left to the
    // decoding path.
    return values.finder().isUsable() && startsAsUtf8(bytes)
            && !textBody(bytes).startsWith(utf8Mark) && values.finder().canSearch(textBody(bytes));
}

bool linesHoldAnyValue(const QStringList &lines, const SwitchValues &values)
{
    for (const QString &line : lines) {
        if (lineHoldsAnyValue(line, values.fromValues(), values.caseSensitive()))
            return true;
    }
    return false;
}

// Appends the lines of a stretch of text, each with its terminator and without the carriage
// return that stood before its line feed. A stretch that does not end with a line feed is a last
// line without one.
void appendLines(QByteArray &out, QByteArrayView text, const QByteArray &terminator)
{
    qsizetype start = 0;
    while (start < text.size()) {
        const void *found = std::memchr(text.data() + start, '\n', size_t(text.size() - start));
        const qsizetype feed = found ? static_cast<const char *>(found) - text.data() : text.size();
        qsizetype end = feed;
        if (found && end > start && text.at(end - 1) == '\r')
            --end;
        out.append(text.sliced(start, end - start));
        out.append(terminator);
        start = feed + 1;
    }
}

} // namespace

SwitchValues::SwitchValues(const QStringList &fromValues, const QStringList &toValues,
                           bool caseSensitive)
    : m_from(fromValues),
      m_to(toValues),
      m_caseSensitive(caseSensitive),
      m_finder(fromValues, caseSensitive)
{
}

bool bytesHoldAnyValue(const QByteArray &bytes, const SwitchValues &values)
{
    if (!byteSearchApplies(bytes, values))
        return linesHoldAnyValue(splitLines(decodeText(bytes).text), values);
    // Values hold no line feed, so a value found in the bytes stands inside one line.
    return values.finder().find(textBody(bytes)) >= 0;
}

SwitchedFile switchFileBytes(const QByteArray &bytes, const SwitchValues &values,
                             const std::function<void(const LineRecord &)> &onRecord,
                             const std::function<void(QByteArrayView)> &writer)
{
    SwitchedFile result;
    QList<LineRecord> records;

    if (!byteSearchApplies(bytes, values)) {
        const DecodedText decoded = decodeText(bytes);
        QStringList lines = splitLines(decoded.text);
        result.safety = decoded.safety;
        if (result.safety != TextSafety::Rewritable) {
            result.holdsValue = linesHoldAnyValue(lines, values);
            return result;
        }
        for (QString &line : lines) {
            records.clear();
            line = replaceValuesInLine(line, values.fromValues(), values.toValues(),
                                       values.caseSensitive(), &records);
            for (const LineRecord &record : std::as_const(records))
                onRecord(record);
        }
        result.bytes = encodeLines(lines);
        if (writer) {
            writer(result.bytes);
            result.bytes.clear();
        }
        return result;
    }

    // Bytes that are not well-formed UTF-8 need nothing of their own: values are well formed, so
    // a value found in the bytes is a value of the decoded line, and the bytes around it are
    // copied, or decoded and encoded back, as they are.
    const QByteArrayView body = textBody(bytes);
    if (body.contains('\0'))
        result.safety = TextSafety::HasNulBytes;
    if (result.safety != TextSafety::Rewritable) {
        result.holdsValue = values.finder().find(body) >= 0;
        return result;
    }

    const QByteArray terminator = nativeLineTerminator();
    // With a writer, the content goes out in pieces of about this size.
    constexpr qsizetype piece = 1 << 20;
    QByteArray &out = result.bytes;
    const qsizetype whole = body.size() + body.size() / 8 + terminator.size();
    out.reserve(writer ? qMin(whole, piece + piece / 4) : whole);
    bool started = false; // whether the start of the content has been seen
    auto handOver = [&](bool last) {
        if (!started && !out.isEmpty()) {
            started = true;
            out.prepend(markToKeep(out));
        }
        if (writer && !out.isEmpty() && (last || out.size() >= piece)) {
            writer(out);
            out.clear(); // keeps its capacity
        }
    };
    // Copies the lines of body[from, to), which ends at a line end or at the end of the body,
    // in pieces that end at line ends.
    auto copyLines = [&](qsizetype from, qsizetype to) {
        while (from < to) {
            qsizetype end = to;
            if (writer && to - from > piece) {
                const void *found =
                        std::memchr(body.data() + from + piece, '\n', size_t(to - from - piece));
                if (found)
                    end = static_cast<const char *>(found) - body.data() + 1;
            }
            appendLines(out, body.sliced(from, end - from), terminator);
            handOver(false);
            from = end;
        }
    };
    qsizetype copied = 0; // what comes before has been written out
    qsizetype hit = values.finder().find(body, 0);
    while (hit >= 0) {
        // The whole line that holds the value goes through the line-by-line replacement.
        qsizetype lineStart = hit;
        while (lineStart > copied && body.at(lineStart - 1) != '\n')
            --lineStart;
        const void *found = std::memchr(body.data() + hit, '\n', size_t(body.size() - hit));
        const qsizetype feed = found ? static_cast<const char *>(found) - body.data() : body.size();
        qsizetype lineEnd = feed;
        if (found && lineEnd > lineStart && body.at(lineEnd - 1) == '\r')
            --lineEnd;

        copyLines(copied, lineStart);
        // A U+FEFF at the start of the line is kept as a character, as it is in the decoded
        // text of the whole file.
        const QString lineAsRead = decodeUtf8Escaped(body.sliced(lineStart, lineEnd - lineStart));
        records.clear();
        const QString line = replaceValuesInLine(lineAsRead, values.fromValues(), values.toValues(),
                                                 values.caseSensitive(), &records);
        for (const LineRecord &record : std::as_const(records))
            onRecord(record);
        appendUtf8Escaped(out, line);
        out.append(terminator);
        handOver(false);

        copied = qMin(feed + 1, body.size());
        hit = copied < body.size() ? values.finder().find(body, copied) : -1;
    }
    copyLines(copied, body.size());
    handOver(true);
    return result;
}
