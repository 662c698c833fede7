#pragma once

#include <QList>
#include <QString>
#include <QTextCharFormat>

#include <optional>

class QPlainTextEdit;

// Paragraphs for the journal, added together. Adding a paragraph to a QPlainTextEdit costs as
// much as a change of its document; a switch adds tens of thousands of them. The paragraphs are
// kept until flush(), which adds them in one change of the document, exactly as the same calls
// of appendHtml() and appendPlainText() would. Flush before anything lets the user see the
// journal (events processed, a message box) and before the journal may be cleared.
class Journal
{
public:
    explicit Journal(QPlainTextEdit *edit) : m_edit(edit) { }
    ~Journal() { flush(); }
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    enum class Colour { Green, Red };

    // A record header: the label in the colour, then the path in bold, shown as
    // appendHtml("<font color=...>label<b>path</b></font>"), the path HTML-escaped, shows it.
    void appendHeader(Colour colour, const QString &label, const QString &path)
    {
        add({ Kind::Header, label, path, colour });
    }
    void appendHtml(const QString &html) { add({ Kind::Html, html, {}, Colour::Green }); }
    void appendPlainText(const QString &text) { add({ Kind::Plain, text, {}, Colour::Green }); }
    void flush();
    // Forgets the paragraphs not added yet, as if they had been added and the journal cleared.
    void dropPending() { m_pending.clear(); }

    // The HTML of a header, as appendHtml() takes it.
    static QString headerHtml(Colour colour, const QString &label, const QString &path);

private:
    enum class Kind { Plain, Html, Header };
    struct Paragraph
    {
        Kind kind;
        QString text; // the text, the HTML, or the label of a header
        QString path; // of a header
        Colour colour;
    };
    void add(Paragraph &&paragraph);

    struct HeaderFormats
    {
        QTextCharFormat label;
        QTextCharFormat path;
    };
    static std::optional<HeaderFormats> headerFormats(Colour colour, const QString &label);

    QPlainTextEdit *m_edit;
    QList<Paragraph> m_pending;
    QString m_lastPath; // the path of the last header, and whether HTML keeps it as it is
    bool m_lastPathReadsAsWritten = false;
};
