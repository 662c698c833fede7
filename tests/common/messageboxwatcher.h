#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

// What a user saw in one message box.
struct SeenMessageBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QPointer<QWidget> parent;
    Qt::TextFormat textFormat = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
    bool hasDefaultButton = false;
};

// Closes every modal message box as soon as it shows, with its Ok button, and records it.
// While it lives, code that shows boxes runs through without a user. An optional hook runs
// when a box shows (before it is closed), for tests that act on the files in the meantime.
class MessageBoxWatcher : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxWatcher(QObject *parent = nullptr);
    ~MessageBoxWatcher() override;

    const QList<SeenMessageBox> &boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); }

    // "title | text" of each box, for readable comparisons.
    QStringList summaries() const;

    std::function<void(const SeenMessageBox &)> onBox;

private:
    void poll();

    QTimer m_timer;
    QList<SeenMessageBox> m_boxes;
};

// "title | text" of the warning that ends a run which left files or folders (counted apart) in
// the environment it switched from.
QString leftBehindSummary(int files, int folders, bool fromProduction = true);
