#pragma once

// What the fuzz targets share: a check that stops the run with a readable message, and the
// conversions between the fuzzer's bytes and Qt's types.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Prints what went wrong and aborts, which libFuzzer reports as a finding with the input.
[[noreturn]] inline void fuzzFailure(const char *file, int line, const char *what)
{
    std::fprintf(stderr, "\n%s:%d: property broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, what)                \
    do {                                           \
        if (!(condition))                          \
            fuzzFailure(__FILE__, __LINE__, what); \
    } while (false)

// A string with its characters made visible (control characters and non-ASCII as \uXXXX), for
// the messages of a failure.
inline QByteArray visible(const QString &text)
{
    QByteArray out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F) {
            out.append(char(u));
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", unsigned(u));
            out.append(buffer);
        }
    }
    return out;
}

inline void printLines(const char *label, const QStringList &lines)
{
    std::fprintf(stderr, "%s (%lld):\n", label, static_cast<long long>(lines.size()));
    for (const QString &line : lines)
        std::fprintf(stderr, "  [%s]\n", visible(line).constData());
}

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}
