#pragma once

#include "messageboxwatcher.h"
#include "testfiles.h"

#include "ui/mainwindow.h"

#include <QObject>
#include <QTemporaryDir>

#include <memory>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// What the tests of the real main window share: a temporary folder holding the tree, the settings
// files next to the executable, every message box recorded and closed, and the window itself.
class WindowFixture : public QObject
{
    Q_OBJECT

protected:
    // Makes the temporary folder and the tree's folder treeName in it (none when empty).
    void initFixture(const QString &treeName = QStringLiteral("arbre"));
    // Closes the window, then removes the settings files and the temporary folder.
    void cleanupFixture();

    // Builds the window as the program does. When the load fails, the constructor has asked the
    // application to quit: the event loop that the program then runs must end at once, with 0,
    // the window never shown.
    void startWindow();
    // Builds the window, whose start-up must succeed.
    void makeWindow();
    // Clicks "Échanger les valeurs"; the run is over when the click returns.
    void click();
    QStringList journalLines() const;

    QString tree() const { return m_dir->path() + m_treeName; }
    template<typename T>
    T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    QPushButton *switchButton() const;
    QLineEdit *filterField() const;
    QPlainTextEdit *journal() const;
    QCheckBox *caseBox() const;
    QCheckBox *subdirsBox() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsFiles> m_settings;
    std::unique_ptr<MessageBoxWatcher> m_boxes;
    std::unique_ptr<MainWindow> m_window;

private:
    QString m_treeName;
};
