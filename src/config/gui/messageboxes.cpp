#include "config/gui/messageboxes.h"

namespace {

// A box lays out the whole of its text: a path of a megabyte (a settings line that never ends)
// would take minutes to show, in a box wider than any screen. Such a text is cut in the middle.
constexpr qsizetype longestText = 2000;
constexpr qsizetype keptAtEachEnd = 800;

QString shortened(const QString &text)
{
    if (text.size() <= longestText)
        return text;
    qsizetype head = keptAtEachEnd;
    if (text.at(head - 1).isHighSurrogate())
        --head;
    qsizetype tail = keptAtEachEnd;
    if (text.at(text.size() - tail).isLowSurrogate())
        --tail;
    return text.left(head) + QStringLiteral(" […] ") + text.right(tail);
}

} // namespace

void showMessageBox(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                    const QString &text, Qt::TextFormat format)
{
    QMessageBox box(icon, title, format == Qt::PlainText ? shortened(text) : text, QMessageBox::Ok,
                    parent);
    box.setTextFormat(format);
    box.exec();
}
