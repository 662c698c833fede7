#pragma once

#include <QList>
#include <QString>

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

    QPlainTextEdit *m_edit;
    QList<Paragraph> m_pending;
};
