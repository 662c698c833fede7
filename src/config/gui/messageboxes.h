#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every message of the program goes through here: a modal box with the single button Ok and no
// default button. Texts that carry a path are shown as plain text, so that a path holding "<" or
// "&" shows as written; a rich text (one built with HTML on purpose) is passed as Qt::RichText
// and must escape the paths it holds. A plain text longer than 2,000 characters is shown cut in
// the middle (" […] ").
void showMessageBox(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                    const QString &text, Qt::TextFormat format = Qt::PlainText);

inline void showCriticalBox(QWidget *parent, const QString &title, const QString &text,
                            Qt::TextFormat format = Qt::PlainText)
{
    showMessageBox(QMessageBox::Critical, parent, title, text, format);
}

inline void showWarningBox(QWidget *parent, const QString &title, const QString &text)
{
    showMessageBox(QMessageBox::Warning, parent, title, text);
}
