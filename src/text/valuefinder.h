#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <array>
#include <vector>

// Searching the values of one environment directly in the bytes of a UTF-8 file, without
// decoding it, with the same answers as the line-by-line search in decoded text.

// Whether bytes are well-formed UTF-8: the verdict of Qt's UTF-8 decoder.
bool isValidUtf8(QByteArrayView bytes);

// The length of the well-formed UTF-8 sequence that starts at p (1 for ASCII), or 0 when the byte
// at p starts none. p < end.
qsizetype utf8SequenceLength(const uchar *p, const uchar *end);

// Finds, in one pass over UTF-8 bytes, where one of a list of values stands: where a line decoded
// from them holds it, with its case or, when case is ignored, as QString::contains() finds it
// with Qt::CaseInsensitive. A character of a value is then any of its case mates, in the bytes
// of each, whatever their lengths.
class ValueFinder
{
public:
    ValueFinder(const QStringList &values, bool caseSensitive);

    // Whether these bytes must be searched in decoded lines instead: they may hold a value that
    // find() does not look for, one with a lone surrogate, which the toolkit may match against
    // half of a character or a byte kept from an invalid sequence. Such a value can only stand
    // where one of its well-formed parts does, so the other files keep the byte search.
    [[nodiscard]] bool needsDecoding(QByteArrayView bytes) const;

    // Offset of the first occurrence of a value at or after from, or -1. Empty values, and values
    // holding a line feed, which no line holds, are never found.
    [[nodiscard]] qsizetype find(QByteArrayView bytes, qsizetype from = 0) const;

private:
    // The byte forms of a list of values, and the search for the first one that stands.
    class Patterns
    {
    public:
        explicit Patterns(bool caseSensitive) : m_caseSensitive(caseSensitive) { }

        // A well-formed value. With notBeforeLineFeed, not where a line feed follows it: decoding
        // drops the carriage return that ends the value there.
        void add(QStringView value, bool notBeforeLineFeed);
        // Makes the tables of the search, once every value has been added.
        void prepare();
        qsizetype find(QByteArrayView bytes, qsizetype from) const;

    private:
        struct Span // a run of m_bytes, or of m_alternatives
        {
            quint32 first;
            quint32 size;
        };
        struct Pattern
        {
            Span steps; // in m_steps; each step matches one of its alternatives
            qsizetype shortest; // bytes of the shortest form
            bool notBeforeLineFeed;
        };

        template<typename Visit>
        void forEachBlock(const Pattern &pattern, qsizetype window, Visit visit) const;
        template<bool caseSensitive>
        bool matchesAt(const uchar *data, qsizetype size, qsizetype at,
                       const Pattern &pattern) const;
        template<bool caseSensitive>
        bool matchesByBlock(const uchar *data, qsizetype size, qsizetype at,
                            qsizetype blockEnd) const;
        template<bool caseSensitive>
        qsizetype findIn(QByteArrayView bytes, qsizetype from) const;
        template<bool caseSensitive>
        qsizetype findWithShifts(QByteArrayView bytes, qsizetype from) const;

        bool m_caseSensitive;
        QByteArray m_bytes; // the alternatives' bytes, ASCII letters in lower case when case is
                            // ignored
        std::vector<Span> m_alternatives; // in m_bytes
        std::vector<Span> m_steps; // in m_alternatives; one alternative for a run of
                                   // characters that have no other form
        std::vector<Pattern> m_patterns;

        // The patterns that may start (plain scan) or end (window search) with a two-byte block,
        // as block << 32 | pattern, in order; ASCII letters in lower case when case is ignored.
        std::vector<quint64> m_byBlock;
        // The tables that the search reads at each step hold the bytes as they stand, in either
        // case when case is ignored: folding them there would cost two more reads a step.
        std::array<quint64, 1024> m_pairs{}; // bit b0 | b1 << 8 set: a form starts with b0 b1
        // A pattern of one byte: 1, found wherever it stands; 2, only where no line feed follows.
        std::array<quint8, 256> m_singles{};

        // When every form of every pattern has at least minimumWindow bytes, the search looks at
        // the last two bytes of a window as long as the shortest form and moves the window on by
        // as much as they allow (a Wu-Manber search): most of the bytes of a file are never
        // looked at.
        static constexpr qsizetype minimumWindow = 4;
        qsizetype m_window = 0; // length of the window; 0 when the patterns are too short
        std::vector<quint8> m_shifts; // by two-byte block of the text: how far the window moves
    };

    Patterns m_values; // the values that find() looks for
    Patterns m_anchors; // a well-formed part of each value with a lone surrogate
    bool m_decodeNonAscii = false; // a value is only lone surrogates: any byte beyond ASCII
};
