#include "text/valuefinder.h"

#include <QChar>
#include <QStringView>
#include <QVarLengthArray>

#include <algorithm>
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

namespace {

// The case classes of the BMP, made once: each character leads to the next one with the same
// simple case folding (QChar::toCaseFolded), round a ring. Folded as one UTF-16 unit, as the
// toolkit folds it.
const std::vector<char16_t> &bmpCaseRing()
{
    static const std::vector<char16_t> ring = [] {
        std::vector<char16_t> next(0x10000);
        std::vector<qint32> lastOfClass(0x10000, -1); // by folded form
        for (char32_t u = 0; u < 0x10000; ++u) {
            const auto unit = char16_t(u);
            qint32 &last = lastOfClass[QChar(unit).toCaseFolded().unicode()];
            next[unit] = last < 0 ? unit : next[last];
            if (last >= 0)
                next[last] = unit;
            last = unit;
        }
        return next;
    }();
    return ring;
}

// Calls visit(mate) for each character that Qt's case-insensitive search takes for c, c first:
// those with the same simple case folding, and beyond the BMP, with the same high surrogate as
// well, since the toolkit compares a high surrogate as it stands and folds the whole character at
// its low surrogate.
template<typename Visit>
void forEachCaseMate(char32_t c, Visit visit)
{
    visit(c);
    if (c > 0xFFFF) {
        // The 1,024 characters that share c's high surrogate.
        const char32_t folded = QChar::toCaseFolded(c);
        const char32_t first = c & ~char32_t(0x3FF);
        for (char32_t other = first; other < first + 0x400; ++other) {
            if (other != c && QChar::toCaseFolded(other) == folded)
                visit(other);
        }
        return;
    }
    const std::vector<char16_t> &next = bmpCaseRing();
    for (char16_t other = next[c]; other != c; other = next[other])
        visit(other);
}

// Whether the toolkit takes for c, an ASCII character, nothing but ASCII characters.
bool hasOnlyAsciiMates(char32_t c)
{
    static const std::array<bool, 128> onlyAscii = [] {
        std::array<bool, 128> table{};
        for (char32_t a = 0; a < 128; ++a) {
            table[a] = true;
            forEachCaseMate(a, [&](char32_t mate) { table[a] = table[a] && mate < 0x80; });
        }
        return table;
    }();
    return c < 0x80 && onlyAscii[c];
}

// A character in UTF-8.
struct Utf8Form
{
    std::array<char, 4> bytes{};
    qsizetype size = 0;
    QByteArrayView view() const { return QByteArrayView(bytes.data(), size); }
};

// QString::fromUcs4() would drop a U+FEFF.
Utf8Form utf8Form(char32_t c)
{
    Utf8Form form;
    if (c < 0x80) {
        form.bytes[form.size++] = char(c);
        return form;
    }
    const int following = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    static const uchar leads[] = { 0, 0xC0, 0xE0, 0xF0 };
    form.bytes[form.size++] = char(leads[following] | (c >> (6 * following)));
    for (int k = following - 1; k >= 0; --k)
        form.bytes[form.size++] = char(0x80 | ((c >> (6 * k)) & 0x3F));
    return form;
}

// Whether bytes hold one beyond ASCII.
bool holdsNonAscii(QByteArrayView bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) >= 0x80; });
}

} // namespace

void ValueFinder::Patterns::add(QStringView value, bool notBeforeLineFeed)
{
    const auto firstStep = quint32(m_steps.size());
    qsizetype shortest = 0;
    const auto addStep = [&](const QVarLengthArray<QByteArrayView, 4> &alternatives) {
        m_steps.push_back({ quint32(m_alternatives.size()), quint32(alternatives.size()) });
        qsizetype least = std::numeric_limits<qsizetype>::max();
        for (const QByteArrayView alternative : alternatives) {
            m_alternatives.push_back({ quint32(m_bytes.size()), quint32(alternative.size()) });
            m_bytes += alternative;
            least = qMin(least, alternative.size());
        }
        shortest += least;
    };
    // One step for a run of characters that have one form each, one for each other character.
    QByteArray run = m_caseSensitive ? value.toUtf8() : QByteArray();
    for (qsizetype i = 0; !m_caseSensitive && i < value.size(); ++i) {
        char32_t c = value.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < value.size()) {
            c = QChar::surrogateToUcs4(value.at(i), value.at(i + 1));
            ++i;
        }
        if (hasOnlyAsciiMates(c)) {
            run += char(asciiLower[c]);
            continue;
        }
        QVarLengthArray<Utf8Form, 4> forms;
        forEachCaseMate(c, [&](char32_t mate) {
            Utf8Form form = utf8Form(mate);
            if (form.size == 1)
                form.bytes[0] = char(asciiLower[uchar(form.bytes[0])]);
            const auto same = [&](const Utf8Form &other) { return other.bytes == form.bytes; };
            if (std::none_of(forms.begin(), forms.end(), same))
                forms.append(form);
        });
        if (forms.size() == 1) {
            run += forms.first().view();
            continue;
        }
        if (!run.isEmpty())
            addStep({ run });
        run.clear();
        QVarLengthArray<QByteArrayView, 4> alternatives;
        for (const Utf8Form &form : forms)
            alternatives.append(form.view());
        addStep(alternatives);
    }
    if (!run.isEmpty())
        addStep({ run });
    m_patterns.push_back(
            { { firstStep, quint32(m_steps.size()) - firstStep }, shortest, notBeforeLineFeed });
}

// Calls visit(block, end) for each two-byte block that a form of the pattern holds within its
// first window bytes, end being the offset of the block's second byte.
template<typename Visit>
void ValueFinder::Patterns::forEachBlock(const Pattern &pattern, qsizetype window,
                                         Visit visit) const
{
    // Where the forms reached so far stand: their length and last byte, once each.
    struct Reached
    {
        qsizetype size;
        uchar last;
        bool operator<(const Reached &other) const
        {
            return size != other.size ? size < other.size : last < other.last;
        }
        bool operator==(const Reached &other) const
        {
            return size == other.size && last == other.last;
        }
    };
    std::vector<Reached> reached{ { 0, 0 } };
    for (quint32 s = pattern.steps.first; s < pattern.steps.first + pattern.steps.size; ++s) {
        std::vector<Reached> further;
        const Span &step = m_steps[s];
        for (const Reached &form : reached) {
            for (quint32 a = step.first; a < step.first + step.size; ++a) {
                const auto *bytes = reinterpret_cast<const uchar *>(m_bytes.constData())
                        + m_alternatives[a].first;
                const qsizetype size = m_alternatives[a].size;
                for (qsizetype j = 0; j < size && form.size + j < window; ++j) {
                    if (form.size + j > 0)
                        visit(unsigned(j ? bytes[j - 1] : form.last) | unsigned(bytes[j]) << 8,
                              form.size + j);
                }
                if (form.size + size < window)
                    further.push_back({ form.size + size, bytes[size - 1] });
            }
        }
        std::sort(further.begin(), further.end());
        further.erase(std::unique(further.begin(), further.end()), further.end());
        reached.swap(further);
        if (reached.empty())
            break;
    }
}

void ValueFinder::Patterns::prepare()
{
    if (m_patterns.empty())
        return;
    qsizetype shortest = std::numeric_limits<qsizetype>::max();
    for (const Pattern &pattern : m_patterns)
        shortest = qMin(shortest, pattern.shortest);
    if (shortest >= minimumWindow) {
        m_window = qMin<qsizetype>(shortest, 255);
        m_shifts.assign(65536, quint8(m_window - 1));
    }
    // A byte of the patterns as it may stand in the text: a lower-case letter in either case when
    // case is ignored.
    const auto forEachCase = [&](uchar c, auto visit) {
        visit(c);
        if (!m_caseSensitive && c >= 'a' && c <= 'z')
            visit(uchar(c - ('a' - 'A')));
    };
    const auto forEachCaseOfBlock = [&](unsigned block, auto visit) {
        forEachCase(uchar(block), [&](uchar first) {
            forEachCase(uchar(block >> 8),
                        [&](uchar second) { visit(first | unsigned(second) << 8); });
        });
    };
    const auto addPair = [&](unsigned pair) {
        forEachCaseOfBlock(pair,
                           [&](unsigned raw) { m_pairs[raw >> 6] |= quint64(1) << (raw & 63); });
    };
    for (quint32 p = 0; p < m_patterns.size(); ++p) {
        const Pattern &pattern = m_patterns[p];
        if (m_window) {
            forEachBlock(pattern, m_window, [&](unsigned block, qsizetype end) {
                forEachCaseOfBlock(block, [&](unsigned raw) {
                    m_shifts[raw] = qMin(m_shifts[raw], quint8(m_window - 1 - end));
                });
                if (end == 1)
                    addPair(block);
                if (end == m_window - 1)
                    m_byBlock.push_back(quint64(block) << 32 | p);
            });
            continue;
        }
        forEachBlock(pattern, 2, [&](unsigned block, qsizetype) {
            addPair(block);
            m_byBlock.push_back(quint64(block) << 32 | p);
        });
        // A value of one character that has a form of one byte.
        const Span &step = m_steps[pattern.steps.first];
        for (quint32 a = step.first; pattern.steps.size == 1 && a < step.first + step.size; ++a) {
            if (m_alternatives[a].size == 1) {
                forEachCase(uchar(m_bytes.at(m_alternatives[a].first)),
                            [&](uchar c) { m_singles[c] |= pattern.notBeforeLineFeed ? 2 : 1; });
            }
        }
    }
    std::sort(m_byBlock.begin(), m_byBlock.end());
    m_byBlock.erase(std::unique(m_byBlock.begin(), m_byBlock.end()), m_byBlock.end());
}

qsizetype ValueFinder::Patterns::find(QByteArrayView bytes, qsizetype from) const
{
    if (m_patterns.empty())
        return -1;
    if (m_window)
        return m_caseSensitive ? findWithShifts<true>(bytes, from)
                               : findWithShifts<false>(bytes, from);
    return m_caseSensitive ? findIn<true>(bytes, from) : findIn<false>(bytes, from);
}

template<bool caseSensitive>
bool ValueFinder::Patterns::matchesAt(const uchar *data, qsizetype size, qsizetype at,
                                      const Pattern &pattern) const
{
    const auto *patternBytes = reinterpret_cast<const uchar *>(m_bytes.constData());
    for (quint32 s = pattern.steps.first; s < pattern.steps.first + pattern.steps.size; ++s) {
        const Span &step = m_steps[s];
        // The forms of one character are never the start of one another (UTF-8 is a prefix
        // code): one alternative at most can match.
        quint32 a = step.first;
        for (; a < step.first + step.size; ++a) {
            const Span &alternative = m_alternatives[a];
            if (size - at < alternative.size)
                continue;
            const uchar *expected = patternBytes + alternative.first;
            if constexpr (caseSensitive) {
                if (std::memcmp(data + at, expected, alternative.size) == 0)
                    break;
            } else {
                quint32 i = 0;
                while (i < alternative.size && asciiLower[data[at + i]] == expected[i])
                    ++i;
                if (i == alternative.size)
                    break;
            }
        }
        if (a == step.first + step.size)
            return false;
        at += m_alternatives[a].size;
    }
    return !pattern.notBeforeLineFeed || at == size || data[at] != '\n';
}

// Whether a pattern filed under the block that ends at blockEnd matches at at.
template<bool caseSensitive>
bool ValueFinder::Patterns::matchesByBlock(const uchar *data, qsizetype size, qsizetype at,
                                           qsizetype blockEnd) const
{
    const auto fold = [](uchar c) { return caseSensitive ? c : asciiLower[c]; };
    const unsigned block = fold(data[blockEnd - 1]) | unsigned(fold(data[blockEnd])) << 8;
    for (auto entry = std::lower_bound(m_byBlock.begin(), m_byBlock.end(), quint64(block) << 32);
         entry != m_byBlock.end() && *entry >> 32 == block; ++entry) {
        if (matchesAt<caseSensitive>(data, size, at, m_patterns[quint32(*entry)]))
            return true;
    }
    return false;
}

template<bool caseSensitive>
qsizetype ValueFinder::Patterns::findWithShifts(QByteArrayView bytes, qsizetype from) const
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    // Windows end at increasing offsets, so the first match found is the leftmost one.
    for (qsizetype end = from + m_window - 1; end < size;) {
        const quint8 shift = m_shifts[data[end - 1] | unsigned(data[end]) << 8];
        if (shift) {
            end += shift;
            continue;
        }
        // The window ends as a value may: unless it also starts as one, it is passed over at once.
        const qsizetype start = end - m_window + 1;
        const unsigned head = data[start] | unsigned(data[start + 1]) << 8;
        if ((m_pairs[head >> 6] & (quint64(1) << (head & 63)))
            && matchesByBlock<caseSensitive>(data, size, start, end))
            return start;
        ++end;
    }
    return -1;
}

template<bool caseSensitive>
qsizetype ValueFinder::Patterns::findIn(QByteArrayView bytes, qsizetype from) const
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    for (qsizetype at = from; at < size; ++at) {
        const quint8 single = m_singles[data[at]];
        if ((single & 1) || (single && (at + 1 == size || data[at + 1] != '\n')))
            return at;
        if (at + 1 == size)
            break;
        const unsigned pair = data[at] | unsigned(data[at + 1]) << 8;
        if ((m_pairs[pair >> 6] & (quint64(1) << (pair & 63)))
            && matchesByBlock<caseSensitive>(data, size, at, at + 1))
            return at;
    }
    return -1;
}

ValueFinder::ValueFinder(const QStringList &values, bool caseSensitive)
    : m_values(caseSensitive), m_anchors(caseSensitive)
{
    for (const QString &value : values) {
        // A line never holds a line feed; decoded lines lose the carriage return before one.
        if (value.isEmpty() || value.contains(u'\n'))
            continue;
        const bool notBeforeLineFeed = value.endsWith(u'\r');
        if (value.isValidUtf16()) {
            m_values.add(value, notBeforeLineFeed);
            continue;
        }
        // The longest well-formed part between the lone surrogates.
        QStringView anchor;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= value.size(); ++i) {
            const bool pair = i + 1 < value.size() && value.at(i).isHighSurrogate()
                    && value.at(i + 1).isLowSurrogate();
            if (i < value.size() && !value.at(i).isSurrogate())
                continue;
            if (pair) {
                ++i;
                continue;
            }
            if (i - start > anchor.size())
                anchor = QStringView(value).sliced(start, i - start);
            start = i + 1;
        }
        if (anchor.isEmpty())
            m_decodeNonAscii = true;
        else
            m_anchors.add(anchor, false);
    }
    m_values.prepare();
    m_anchors.prepare();
}

bool ValueFinder::needsDecoding(QByteArrayView bytes) const
{
    return (m_decodeNonAscii && holdsNonAscii(bytes)) || m_anchors.find(bytes, 0) >= 0;
}

qsizetype ValueFinder::find(QByteArrayView bytes, qsizetype from) const
{
    return m_values.find(bytes, from);
}
