#include "switching/gui/journal.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include <optional>

namespace {

// Beyond this many waiting paragraphs they are added, to keep the memory they take bounded.
constexpr qsizetype maximumPending = 4096;

// An HTML paragraph as a document reads it. When it makes one plain block (runs of formatted
// text, no block format, no frame, image or table), its runs are inserted as text with their
// formats, which gives the same document as inserting the fragment and costs less.
struct ReadHtml
{
    QTextDocumentFragment fragment;
    bool asRuns = false;
    QList<QPair<QString, QTextCharFormat>> runs;
};

ReadHtml readHtml(const QString &html, QTextDocument *document)
{
    ReadHtml read;
    read.fragment = QTextDocumentFragment::fromHtml(html, document);
    QTextDocument scratch;
    QTextCursor(&scratch).insertFragment(read.fragment);
    const QTextBlock block = scratch.firstBlock();
    if (scratch.blockCount() != 1 || !scratch.rootFrame()->childFrames().isEmpty()
        || !block.blockFormat().properties().isEmpty()
        || !block.charFormat().properties().isEmpty())
        return read;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.text().contains(QChar::ObjectReplacementCharacter)
            || fragment.charFormat().isImageFormat())
            return read;
        read.runs.append({ fragment.text(), fragment.charFormat() });
    }
    read.asRuns = true;
    return read;
}

// The text of a header whose reading as HTML keeps it as it is: printable characters, and blanks
// that are single spaces between other characters (HTML reading would merge or drop others).
bool readsAsWritten(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!c.isPrint())
            return false;
        if (c.isSpace()
            && (c != u' ' || i == 0 || i + 1 == text.size() || text.at(i + 1).isSpace()))
            return false;
    }
    return true;
}

QLatin1String colourName(Journal::Colour colour)
{
    return colour == Journal::Colour::Green ? QLatin1String("green") : QLatin1String("red");
}

} // namespace

QString Journal::headerHtml(Colour colour, const QString &label, const QString &path)
{
    return QStringLiteral("<font color=\"%1\">%2<b>%3</b></font>")
            .arg(colourName(colour), label, path.toHtmlEscaped());
}

// The formats of a header's label and path: its colour, and bold for the path, as reading its HTML
// gives them. Nothing when reading as HTML would not keep the label as it is (blanks that it
// would merge or drop, markup, entities): the header is then read as HTML.
std::optional<Journal::HeaderFormats> Journal::headerFormats(Colour colour, const QString &label)
{
    if (!label.endsWith(u' ') || !readsAsWritten(label.chopped(1)) || label.contains(u'<')
        || label.contains(u'&'))
        return std::nullopt;
    HeaderFormats formats;
    formats.label.setForeground(QColor(colourName(colour)));
    formats.path = formats.label;
    formats.path.setFontWeight(QFont::Bold);
    return formats;
}

void Journal::add(Paragraph &&paragraph)
{
    if (!m_edit)
        return;
    m_pending.append(std::move(paragraph));
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
        if (first.kind == Kind::Header)
            m_edit->appendHtml(headerHtml(first.colour, first.text, first.path));
        else if (first.kind == Kind::Html)
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
    // The edit's cursor stands in a block before the new ones, whose format does not change.
    const QTextBlockFormat blockFormat = editCursor.blockFormat();
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    // Each insertion leaves the cursor at the end of the document. Moving there by position
    // inside the edit block, rather than with movePosition(), lays out no block.
    cursor.setPosition(document->characterCount() - 1);
    QString lastHtml;
    ReadHtml lastRead;
    while (next < m_pending.size()) {
        const Paragraph &paragraph = m_pending.at(next++);
        cursor.insertBlock(blockFormat, charFormat);
        QString html;
        if (paragraph.kind == Kind::Header) {
            // A header reads as its label and its path with the formats of its colour, unless
            // HTML would not keep its path as it is.
            if (paragraph.path != m_lastPath || m_lastPath.isNull()) {
                m_lastPath = paragraph.path;
                m_lastPathReadsAsWritten = readsAsWritten(m_lastPath);
            }
            if (m_lastPathReadsAsWritten) {
                if (const auto formats = headerFormats(paragraph.colour, paragraph.text)) {
                    cursor.insertText(paragraph.text, formats->label);
                    cursor.insertText(paragraph.path, formats->path);
                    continue;
                }
            }
            html = headerHtml(paragraph.colour, paragraph.text, paragraph.path);
        } else if (paragraph.kind == Kind::Html) {
            html = paragraph.text;
        }
        if (!html.isNull()) {
            // HTML is read once for the paragraphs that repeat it.
            if (html != lastHtml) {
                lastHtml = html;
                lastRead = readHtml(lastHtml, document);
            }
            if (lastRead.asRuns) {
                for (const auto &run : std::as_const(lastRead.runs))
                    cursor.insertText(run.first, run.second);
            } else {
                cursor.insertFragment(lastRead.fragment);
            }
            continue;
        }
        // Plain paragraphs that follow one another go in as one text, a line feed between
        // them: insertText() starts each new block with the same block and character formats.
        // A paragraph ending with a carriage return would join with that line feed into one
        // line end, so it is not followed in the same text.
        QString text = paragraph.text;
        while (next < m_pending.size() && m_pending.at(next).kind == Kind::Plain
               && !text.endsWith(u'\r')) {
            text += u'\n';
            text += m_pending.at(next++).text;
        }
        cursor.insertText(text);
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
