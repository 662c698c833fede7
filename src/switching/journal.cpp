#include "switching/journal.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace {

// Beyond this many waiting paragraphs they are added, to keep the memory they take bounded.
constexpr qsizetype maximumPending = 4096;

} // namespace

void Journal::add(const QString &text, bool html)
{
    if (!m_edit)
        return;
    m_pending.append({ text, html });
    if (m_pending.size() >= maximumPending)
        flush();
}

void Journal::flush()
{
    if (!m_edit || m_pending.isEmpty())
        return;
    QTextDocument *document = m_edit->document();
    qsizetype next = 0;
    // The first paragraph of an empty journal goes through the edit itself, which then keeps the
    // character format of its cursor for the paragraphs after it.
    while (next < m_pending.size() && document->isEmpty()) {
        const Paragraph &first = m_pending.at(next++);
        if (first.html)
            m_edit->appendHtml(first.text);
        else
            m_edit->appendPlainText(first.text);
    }
    if (next == m_pending.size()) {
        m_pending.clear();
        return;
    }

    QScrollBar *scrollBar = m_edit->verticalScrollBar();
    const bool atBottom = m_edit->isVisible() && scrollBar->value() == scrollBar->maximum();

    // What appendHtml() and appendPlainText() do for each paragraph: a new block at the end, with
    // the block format at the edit's cursor and the character format that cursor keeps, then the
    // paragraph, HTML read as a document fragment.
    const QTextCursor editCursor = m_edit->textCursor();
    const QTextCharFormat charFormat = editCursor.charFormat();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    // Each insertion leaves the cursor at the end of the document. Moving there by position
    // inside the edit block, rather than with movePosition(), lays out no block.
    cursor.setPosition(document->characterCount() - 1);
    QString lastHtml;
    QTextDocumentFragment lastFragment;
    for (; next < m_pending.size(); ++next) {
        const Paragraph &paragraph = m_pending.at(next);
        cursor.insertBlock(editCursor.blockFormat(), charFormat);
        if (paragraph.html) {
            // A file's records repeat its header: it is read once.
            if (paragraph.text != lastHtml) {
                lastHtml = paragraph.text;
                lastFragment = QTextDocumentFragment::fromHtml(lastHtml, document);
            }
            cursor.insertFragment(lastFragment);
        } else {
            cursor.insertText(paragraph.text);
        }
    }
    cursor.endEditBlock();
    m_pending.clear();
    // An edit's cursor that stood at the end has moved with the insertions, which makes it forget
    // the character format it kept: the next paragraph would take the format of the last
    // character (a red, bold header). appendHtml() and appendPlainText() give it back its format
    // after each paragraph, unless it selects text.
    if (!m_edit->textCursor().hasSelection())
        m_edit->setCurrentCharFormat(charFormat);

    if (atBottom)
        scrollBar->setValue(scrollBar->maximum());
}
