#include "switching/fileswitch.h"

#include "files/filesystem.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr QByteArrayView utf8Mark("\xEF\xBB\xBF", 3);

bool byteSearchApplies(const QByteArray &bytes, const SwitchValues &values)
{
    const TextEncoding encoding = encodingOf(bytes);
    if (encoding != TextEncoding::Utf8 && encoding != TextEncoding::Utf8WithBom)
        return false;
    // Decoding drops a second byte-order mark right after the first: that text is left to the
    // decoding path, and so is a text where the byte search cannot see every value.
    const QByteArrayView body = utf8Body(bytes);
    return !body.startsWith(utf8Mark) && !values.finder().needsDecoding(body);
}

bool linesHoldAnyValue(const QStringList &lines, const SwitchValues &values)
{
    for (const QString &line : lines) {
        if (lineHoldsAnyValue(line, values.fromValues(), values.caseSensitive()))
            return true;
    }
    return false;
}

// The switch of a file that the value search cannot read in its bytes: decoded whole, each line
// replaced, encoded again.
SwitchedFile switchDecodedText(const QByteArray &bytes, const SwitchValues &values,
                               const std::function<void(const LineRecord &)> &onRecord,
                               const std::function<void(QByteArrayView)> &writer)
{
    SwitchedFile result;
    const DecodedText decoded = decodeText(bytes);
    QStringList lines = splitLines(decoded.text);
    result.safety = decoded.safety;
    if (result.safety != TextSafety::Rewritable) {
        result.holdsValue = linesHoldAnyValue(lines, values);
        return result;
    }
    QList<LineRecord> records;
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

// The switch of a UTF-8 file in its bytes: the lines without a value are copied as they are, the
// lines that hold one go through the line-by-line replacement. Bytes that are not well-formed
// UTF-8 need nothing of their own: values are well formed, so a value found in the bytes is a
// value of the decoded line, and the bytes around it are copied, or decoded and encoded back, as
// they are.
class ByteSwitch
{
public:
    ByteSwitch(QByteArrayView body, const SwitchValues &values,
               const std::function<void(const LineRecord &)> &onRecord,
               const std::function<void(QByteArrayView)> &writer, QByteArray &out)
        : m_body(body), m_values(values), m_onRecord(onRecord), m_writer(writer), m_out(out)
    {
        const qsizetype whole = body.size() + body.size() / 8 + m_terminator.size();
        m_out.reserve(writer ? qMin(whole, piece + piece / 4) : whole);
    }

    void run()
    {
        qsizetype copied = 0; // what comes before has been written out
        for (qsizetype hit = m_values.finder().find(m_body, 0); hit >= 0;) {
            qsizetype lineStart = hit;
            while (lineStart > copied && m_body.at(lineStart - 1) != '\n')
                --lineStart;
            copyLines(copied, lineStart);
            copied = switchLine(lineStart);
            hit = copied < m_body.size() ? m_values.finder().find(m_body, copied) : -1;
        }
        copyLines(copied, m_body.size());
        handOver(true);
    }

private:
    // With a writer, the content goes out in pieces of about this size.
    static constexpr qsizetype piece = 1 << 20;

    // Gives the content made so far to the writer, once there is a piece of it or at the end.
    void handOver(bool last)
    {
        if (!m_started && !m_out.isEmpty()) {
            m_started = true;
            m_out.prepend(markToKeep(m_out));
        }
        if (m_writer && !m_out.isEmpty() && (last || m_out.size() >= piece)) {
            m_writer(m_out);
            m_out.clear(); // keeps its capacity
        }
    }

    // Copies the lines of body[from, to), which ends at a line end or at the end of the body, in
    // pieces that end at line ends, each line with the platform's terminator.
    void copyLines(qsizetype from, qsizetype to)
    {
        while (from < to) {
            qsizetype end = to;
            if (m_writer && to - from > piece) {
                const void *found =
                        std::memchr(m_body.data() + from + piece, '\n', size_t(to - from - piece));
                if (found)
                    end = static_cast<const char *>(found) - m_body.data() + 1;
            }
            const QByteArrayView stretch = m_body.sliced(from, end - from);
            for (qsizetype start = 0; start < stretch.size();) {
                const LineSpan line = lineFrom(stretch, start);
                m_out.append(stretch.sliced(start, line.end - start));
                m_out.append(m_terminator);
                start = line.next;
            }
            handOver(false);
            from = end;
        }
    }

    // Replaces the values in the line that starts at lineStart; returns where the next one starts.
    qsizetype switchLine(qsizetype lineStart)
    {
        const LineSpan span = lineFrom(m_body, lineStart);
        // A U+FEFF at the start of the line is kept as a character, as it is in the decoded
        // text of the whole file.
        const QString lineAsRead =
                decodeUtf8Escaped(m_body.sliced(lineStart, span.end - lineStart));
        m_records.clear();
        const QString line =
                replaceValuesInLine(lineAsRead, m_values.fromValues(), m_values.toValues(),
                                    m_values.caseSensitive(), &m_records);
        for (const LineRecord &record : std::as_const(m_records))
            m_onRecord(record);
        appendUtf8Escaped(m_out, line);
        m_out.append(m_terminator);
        handOver(false);
        return span.next;
    }

    QByteArrayView m_body;
    const SwitchValues &m_values;
    const std::function<void(const LineRecord &)> &m_onRecord;
    const std::function<void(QByteArrayView)> &m_writer;
    QByteArray &m_out;
    const QByteArray m_terminator = nativeLineTerminator();
    QList<LineRecord> m_records;
    bool m_started = false; // whether the start of the content has been seen
};

// From this size on, a file is switched on another core while this thread hands its records
// on: for a file of hundreds of thousands of records, showing them is most of the work.
constexpr qsizetype largeFile = qsizetype(4) << 20;

SwitchedFile switchBesideRecords(const QByteArray &bytes, const SwitchValues &values,
                                 const std::function<void(const LineRecord &)> &onRecord,
                                 const std::function<void(QByteArrayView)> &writer)
{
    constexpr qsizetype batchSize = 1024;
    constexpr qsizetype mostWaiting = 16 * batchSize; // keeps the memory they take bounded
    std::mutex mutex;
    std::condition_variable changed;
    QList<LineRecord> waiting;
    bool done = false;
    SwitchedFile result;
    std::thread worker([&] {
        QList<LineRecord> batch;
        const auto handOver = [&](bool last) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return waiting.size() < mostWaiting; });
            waiting += std::move(batch);
            batch.clear();
            done = last;
            lock.unlock();
            changed.notify_all();
        };
        result = switchFileBytes(
                bytes, values,
                [&](const LineRecord &record) {
                    batch.append(record);
                    if (batch.size() >= batchSize)
                        handOver(false);
                },
                writer);
        handOver(true);
    });
    QList<LineRecord> taken;
    for (bool finished = false; !finished;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return done || !waiting.isEmpty(); });
            taken.swap(waiting);
            finished = done;
        }
        changed.notify_all();
        for (const LineRecord &record : std::as_const(taken))
            onRecord(record);
        taken.clear();
    }
    worker.join();
    return result;
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

bool fileHoldsAnyValue(const QByteArray &bytes, const SwitchValues &values)
{
    if (!byteSearchApplies(bytes, values))
        return linesHoldAnyValue(splitLines(decodeText(bytes).text), values);
    // Values hold no line feed, so a value found in the bytes stands inside one line.
    return values.finder().find(utf8Body(bytes)) >= 0;
}

SwitchedFile switchFileBytes(const QByteArray &bytes, const SwitchValues &values,
                             const std::function<void(const LineRecord &)> &onRecord,
                             const std::function<void(QByteArrayView)> &writer)
{
    if (!byteSearchApplies(bytes, values))
        return switchDecodedText(bytes, values, onRecord, writer);
    SwitchedFile result;
    const QByteArrayView body = utf8Body(bytes);
    if (body.contains('\0')) {
        result.safety = TextSafety::HasNulBytes;
        result.holdsValue = values.finder().find(body) >= 0;
        return result;
    }
    ByteSwitch(body, values, onRecord, writer, result.bytes).run();
    return result;
}

FileSwitch replaceValuesInFile(const QByteArray &bytes, const SwitchValues &values,
                               Rewrite &rewrite,
                               const std::function<void(const LineRecord &)> &onRecord)
{
    // The new content is written as it is made, so that a large file is not held twice.
    const auto writer = [&](QByteArrayView piece) { rewrite.write(piece); };
    const SwitchedFile switched = bytes.size() >= largeFile
            ? switchBesideRecords(bytes, values, onRecord, writer)
            : switchFileBytes(bytes, values, onRecord, writer);
    FileSwitch result;
    result.safety = switched.safety;
    if (switched.safety != TextSafety::Rewritable)
        result.outcome = switched.holdsValue ? FileOutcome::LeftIntact : FileOutcome::NoValue;
    return result;
}
