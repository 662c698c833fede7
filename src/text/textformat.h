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
//
// A byte of a UTF-8 file that is not part of a well-formed sequence (a file saved in Latin-1 or
// Windows-1252, a sequence cut short) becomes the lone surrogate U+DC80 + (byte - 0x80) in the
// text, and is written back as that byte: such a file comes back byte for byte, and no value,
// which is always well-formed text, can match or fold to part of it.

enum class TextEncoding { Utf8, Utf8WithBom, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

// Whether a file's text can be rewritten without losing anything that the file holds.
enum class TextSafety {
    Rewritable, // reading and writing back keeps every byte (line ends and marks aside)
    HasNulBytes, // NUL characters: an image, an archive, an executable...
    InvalidBytes, // UTF-16 or UTF-32 that is not well formed: its bytes would not come back
};

struct DecodedText
{
    QString text;
    TextEncoding encoding = TextEncoding::Utf8;
    TextSafety safety = TextSafety::Rewritable;
};

// The encoding that the byte-order mark at the start of bytes names (UTF-8 without one), and the
// mark's size.
TextEncoding encodingOf(QByteArrayView bytes, qsizetype *markSize = nullptr);

// The UTF-8 text of bytes after their UTF-8 byte-order mark, if any. Empty when a mark names
// UTF-16 or UTF-32.
inline QByteArrayView utf8Body(QByteArrayView bytes)
{
    qsizetype markSize = 0;
    const TextEncoding encoding = encodingOf(bytes, &markSize);
    if (encoding != TextEncoding::Utf8 && encoding != TextEncoding::Utf8WithBom)
        return {};
    return bytes.sliced(markSize);
}

// Decodes a whole file. In UTF-16 and UTF-32, undecodable code units make it unsafe.
[[nodiscard]] DecodedText decodeText(const QByteArray &bytes);

// UTF-8 bytes as text, each byte outside a well-formed sequence as its lone surrogate (see
// above). A U+FEFF at the start is kept as a character.
QString decodeUtf8Escaped(QByteArrayView bytes);

// Text as UTF-8, each lone surrogate U+DC80 to U+DCFF as the byte it stands for.
void appendUtf8Escaped(QByteArray &out, QStringView text);

// The text as the journal shows it: each byte kept from an undecodable sequence as its Latin-1
// letter (U+00A0 to U+00FF), or as U+FFFD when it stands for no printable letter.
QString readableText(QString text);

// The lines of a settings file, and whether each is clean text: free of NUL characters and of
// bytes that are not valid in the file's encoding.
struct TextLines
{
    QStringList lines;
    QList<bool> clean;
};
[[nodiscard]] TextLines decodeLines(const QByteArray &bytes);

// Where a line ends, the one rule of every path that splits text or bytes into lines.
struct LineSpan
{
    qsizetype start = 0;
    qsizetype end = 0; // past the line's last unit: before the line feed, and the carriage
                       // return just before it
    qsizetype next = 0; // where the next line starts: past the line feed, or the text's size
};

// The line that starts at from, in a text of size positions whose code units take unit positions
// each. nextFeed(from) gives where the next line feed at or after from stands, or -1;
// isReturn(at) whether a carriage return stands at at. A last line without a line feed keeps
// the carriage return it ends with.
template<typename NextFeed, typename IsReturn>
LineSpan lineFrom(qsizetype from, qsizetype size, qsizetype unit, NextFeed nextFeed,
                  IsReturn isReturn)
{
    const qsizetype feed = nextFeed(from);
    if (feed < 0)
        return { from, size, size };
    qsizetype end = feed;
    if (end - from >= unit && isReturn(end - unit))
        end -= unit;
    return { from, end, feed + unit };
}
LineSpan lineFrom(QByteArrayView text, qsizetype from);
LineSpan lineFrom(QStringView text, qsizetype from);

// Splits text into lines as described above. An empty text has no line; a text that ends with a
// line feed has no empty line after it.
QStringList splitLines(const QString &text);

// The bytes written back for these lines.
QByteArray encodeLines(const QStringList &lines);

// The platform's line terminator ("\r\n" on Windows, "\n" elsewhere).
QByteArray nativeLineTerminator();

// What must stand before bytes written as UTF-8 that start like the byte-order mark of UTF-16 or
// UTF-32 (FF FE, FE FF, 00 00 FE FF: bytes kept from a file that had a UTF-8 mark before them):
// the UTF-8 mark, or they would be read in another encoding the next time. Nothing otherwise.
QByteArrayView markToKeep(QByteArrayView written);

// A French sentence telling why a file whose text is not rewritable was left intact.
QString textSafetyReason(TextSafety safety);
