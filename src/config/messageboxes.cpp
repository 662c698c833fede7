#include "config/messageboxes.h"

void showMessageBox(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                    const QString &text, Qt::TextFormat format)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(format);
    box.exec();
}
