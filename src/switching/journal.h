#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QTextCharFormat>

#include <optional>

class QPlainTextEdit;
class QTextDocument;

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

    void appendHtml(const QString &html) { add(html, true); }
    void appendPlainText(const QString &text) { add(text, false); }
    void flush();

private:
    struct Paragraph
    {
        QString text;
        bool html;
    };
    void add(const QString &text, bool html);

    struct HeaderFormats
    {
        QTextCharFormat label;
        QTextCharFormat path;
    };
    std::optional<HeaderFormats> headerFormats(const QString &colour, const QString &label,
                                               QTextDocument *document);

    QPlainTextEdit *m_edit;
    QList<Paragraph> m_pending;
    QHash<QString, std::optional<HeaderFormats>> m_headerFormats;
};
