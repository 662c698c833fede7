#include "switching/valuefinder.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::array<uchar, 256> makeLowerTable()
{
    std::array<uchar, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[c] = uchar(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}

constexpr std::array<uchar, 256> asciiLower = makeLowerTable();

} // namespace

qsizetype utf8SequenceLength(const uchar *p, const uchar *end)
{
    const uchar lead = *p;
    if (lead < 0x80)
        return 1;
    // Well-formed sequences: the lead byte sets the range of the second byte.
    qsizetype length;
    uchar low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong form
        else if (lead == 0xED)
            high = 0x9F; // no surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // no overlong form
        else if (lead == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (end - p < length)
        return 0;
    if (p[1] < low || p[1] > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const uchar *const end = p + bytes.size();
    while (p < end) {
        // ASCII runs, eight bytes at a time.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const qsizetype length = utf8SequenceLength(p, end);
        if (!length)
            return false;
        p += length;
    }
    return true;
}

ValueFinder::ValueFinder(const QStringList &values, bool caseSensitive)
    : m_caseSensitive(caseSensitive)
{
    for (const QString &value : values) {
        if (value.isEmpty())
            continue;
        // A lone surrogate has no UTF-8 form, yet decoded text holds it as half of a pair.
        if (!value.isValidUtf16())
            m_usable = false;
        for (const QChar c : value) {
            if (c == u'\n' || c == u'\r' || c == QChar(0xFEFF) || c == QChar::ReplacementCharacter
                || (!caseSensitive && c.unicode() >= 0x80))
                m_usable = false;
        }
        QByteArray bytes = value.toUtf8();
        if (!caseSensitive) {
            for (char &c : bytes)
                c = char(asciiLower[uchar(c)]);
        }
        if (bytes.size() == 1) {
            m_singles[uchar(bytes.at(0))] = true;
        } else {
            const unsigned key = uchar(bytes.at(0)) | unsigned(uchar(bytes.at(1))) << 8;
            m_pairs[key >> 6] |= quint64(1) << (key & 63);
        }
        m_values.append(bytes);
        m_prefixes.append(bytes.size() > 1 ? quint16(uchar(bytes.at(0)) | uchar(bytes.at(1)) << 8)
                                           : quint16(0));
    }

    qsizetype shortest = std::numeric_limits<qsizetype>::max();
    for (const QByteArray &value : std::as_const(m_values))
        shortest = qMin(shortest, value.size());
    if (m_values.isEmpty() || shortest < minimumWindow)
        return;
    m_window = qMin<qsizetype>(shortest, 255);
    m_shifts.assign(65536, quint8(m_window - 1));
    for (const QByteArray &value : std::as_const(m_values)) {
        for (qsizetype end = 1; end < m_window; ++end) {
            const unsigned block = uchar(value.at(end - 1)) | unsigned(uchar(value.at(end))) << 8;
            m_shifts[block] = qMin(m_shifts[block], quint8(m_window - 1 - end));
        }
        m_tails.append(quint16(uchar(value.at(m_window - 2)) | uchar(value.at(m_window - 1)) << 8));
    }
}

bool ValueFinder::canSearch(QByteArrayView bytes) const
{
    if (m_caseSensitive)
        return true;
    // One quick pass for each lead byte: Qt's general substring search is many times slower.
    const auto holds = [&](QByteArrayView sequence) {
        const char *at = bytes.data();
        const char *const end = bytes.data() + bytes.size();
        while (end - at >= sequence.size()) {
            at = static_cast<const char *>(std::memchr(at, sequence.at(0), size_t(end - at)));
            if (!at || end - at < sequence.size())
                return false;
            if (std::memcmp(at, sequence.data(), size_t(sequence.size())) == 0)
                return true;
            ++at;
        }
        return false;
    };
    return !holds(QByteArrayView("\xC5\xBF", 2)) && !holds(QByteArrayView("\xE2\x84\xAA", 3));
}

qsizetype ValueFinder::find(QByteArrayView bytes, qsizetype from) const
{
    if (m_values.isEmpty())
        return -1;
    if (m_window)
        return m_caseSensitive ? findWithShifts<true>(bytes, from)
                               : findWithShifts<false>(bytes, from);
    return m_caseSensitive ? findIn<true>(bytes, from) : findIn<false>(bytes, from);
}

namespace {

template<bool caseSensitive>
bool matchesAt(const uchar *data, qsizetype size, qsizetype at, const QByteArray &value)
{
    if (size - at < value.size())
        return false;
    if constexpr (caseSensitive)
        return std::memcmp(data + at, value.constData(), size_t(value.size())) == 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (asciiLower[data[at + i]] != uchar(value.at(i)))
            return false;
    }
    return true;
}

} // namespace

template<bool caseSensitive>
qsizetype ValueFinder::findWithShifts(QByteArrayView bytes, qsizetype from) const
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    auto fold = [](uchar c) { return caseSensitive ? c : asciiLower[c]; };
    // Windows end at increasing offsets, so the first match found is the leftmost one.
    for (qsizetype end = from + m_window - 1; end < size;) {
        const unsigned block = fold(data[end - 1]) | unsigned(fold(data[end])) << 8;
        const quint8 shift = m_shifts[block];
        if (shift) {
            end += shift;
            continue;
        }
        const qsizetype start = end - m_window + 1;
        for (qsizetype v = 0; v < m_values.size(); ++v) {
            if (m_tails.at(v) == block
                && matchesAt<caseSensitive>(data, size, start, m_values.at(v)))
                return start;
        }
        ++end;
    }
    return -1;
}

template<bool caseSensitive>
qsizetype ValueFinder::findIn(QByteArrayView bytes, qsizetype from) const
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    auto fold = [](uchar c) { return caseSensitive ? c : asciiLower[c]; };

    for (qsizetype at = from; at < size; ++at) {
        const uchar first = fold(data[at]);
        if (m_singles[first])
            return at;
        if (at + 1 == size)
            break;
        const unsigned key = first | unsigned(fold(data[at + 1])) << 8;
        if (!(m_pairs[key >> 6] & (quint64(1) << (key & 63))))
            continue;
        for (qsizetype v = 0; v < m_values.size(); ++v) {
            const QByteArray &value = m_values.at(v);
            if (m_prefixes.at(v) == key && value.size() > 1
                && matchesAt<caseSensitive>(data, size, at, value))
                return at;
        }
    }
    return -1;
}
