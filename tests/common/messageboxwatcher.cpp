#include "messageboxwatcher.h"

#include <QAbstractButton>
#include <QApplication>

MessageBoxWatcher::MessageBoxWatcher(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    m_timer.start();
}

MessageBoxWatcher::~MessageBoxWatcher() = default;

QStringList MessageBoxWatcher::summaries() const
{
    QStringList result;
    for (const SeenMessageBox &box : m_boxes)
        result.append(box.title + QStringLiteral(" | ") + box.text);
    return result;
}

void MessageBoxWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    SeenMessageBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.parent = box->parentWidget();
    seen.textFormat = box->textFormat();
    seen.buttons = box->standardButtons();
    seen.hasDefaultButton = box->defaultButton() != nullptr;
    m_boxes.append(seen);
    if (onBox)
        onBox(seen);
    if (QAbstractButton *ok = box->button(QMessageBox::Ok))
        ok->click();
    else
        box->reject();
}

QString leftBehindSummary(int files, int folders, bool fromProduction)
{
    QString text = QStringLiteral("Mirabex | L'échange n'est pas complet : une partie de "
                                  "l'arborescence est restée ")
            + (fromProduction ? QStringLiteral("en production.")
                              : QStringLiteral("en développement."));
    if (files > 0)
        text += QStringLiteral("\nFichiers non échangés : %1").arg(files);
    if (folders > 0)
        text += QStringLiteral("\nDossiers non parcourus : %1").arg(folders);
    return text + QStringLiteral("\nLe journal les nomme, en rouge.");
}
