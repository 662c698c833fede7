#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// How the bytes of a file are turned into text, and back.
//
// A file is read as UTF-8 unless a byte-order mark at its start names another Unicode encoding
// (UTF-16 or UTF-32, either byte order); the mark is not part of the text. Lines end at a line
// feed; a carriage return just before the line feed is not part of the line either. Written text
// is always UTF-8 without a byte-order mark, every line followed by the platform's terminator.

enum class TextEncoding { Utf8, Utf8WithBom, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

// Whether a file's text can be rewritten without losing anything that the file holds.
enum class TextSafety {
    Rewritable,   // the bytes decode cleanly: reading and writing back keeps every character
    HasNulBytes,  // NUL characters: an image, an archive, an executable...
    InvalidBytes, // bytes that are not valid in the encoding (for example Windows-1252 text)
};

struct DecodedText
{
    QString text;
    TextEncoding encoding = TextEncoding::Utf8;
    TextSafety safety = TextSafety::Rewritable;
};

// Decodes a whole file. Undecodable bytes become U+FFFD in the text and make it unsafe.
DecodedText decodeText(const QByteArray &bytes);

// Splits text into lines as described above. An empty text has no line; a text that ends with a
// line feed has no empty line after it.
QStringList splitLines(const QString &text);

// The bytes written back for these lines.
QByteArray encodeLines(const QStringList &lines);

// The platform's line terminator ("\r\n" on Windows, "\n" elsewhere).
QByteArray nativeLineTerminator();

// A French sentence telling why a file whose text is not rewritable was left intact.
QString textSafetyReason(TextSafety safety);
