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

// Finds, in one pass over UTF-8 bytes, where one of a list of values stands.
class ValueFinder
{
public:
    ValueFinder(const QStringList &values, bool caseSensitive);

    // False when these values must be searched in decoded lines instead: with case ignored,
    // values that are not all ASCII; values holding a line feed, a carriage return, U+FEFF or
    // U+FFFD, which decoding may add, drop or split across lines; values holding a lone
    // surrogate, which matches half of a character in decoded text.
    bool isUsable() const { return m_usable; }

    // Whether find() is exact on these bytes. With case ignored it is not when the text holds a
    // character whose case folding is an ASCII letter (U+017F LATIN SMALL LETTER LONG S,
    // U+212A KELVIN SIGN).
    bool canSearch(QByteArrayView bytes) const;

    // Offset of the first occurrence of a value at or after from, or -1. Empty values are never
    // found.
    qsizetype find(QByteArrayView bytes, qsizetype from = 0) const;

private:
    template<bool caseSensitive>
    qsizetype findIn(QByteArrayView bytes, qsizetype from) const;
    template<bool caseSensitive>
    qsizetype findWithShifts(QByteArrayView bytes, qsizetype from) const;

    QList<QByteArray> m_values; // UTF-8; ASCII letters in lower case when case is ignored
    QList<quint16> m_prefixes; // the first two bytes of each value, as the search reads them
    std::array<quint64, 1024> m_pairs{}; // bit b0 | b1 << 8 set: a value starts with b0 b1
    std::array<bool, 256> m_singles{}; // a value of one byte

    // When every value has at least minimumWindow bytes, the search looks at the last two bytes
    // of a window as long as the shortest value and moves the window on by as much as they allow
    // (a Wu-Manber search): most of the bytes of a file are never looked at.
    static constexpr qsizetype minimumWindow = 4;
    qsizetype m_window = 0; // length of the window; 0 when the values are too short
    std::vector<quint8> m_shifts; // by two-byte block: how far the window may move on
    QList<quint16> m_tails; // the block that ends the window of each value
    bool m_caseSensitive = true;
    bool m_usable = true;
};
