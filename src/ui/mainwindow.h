#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <memory>

class Journal;
struct MainWindowForm;

// The program's only window: the environment indicator, the journal, the switch command and the
// holder of the settings read from config.ini and values.ini.
class MainWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Reads config.ini and values.ini from the application directory into the window's state.
    // On failure a message box has been shown and false is returned.
    bool loadSettings();

    // Shows the picture of the environment in force in the first tab.
    void showEnvironment();

    // Whether the settings could not be loaded while the window was built: the program then
    // ends without showing the window.
    bool startupFailed() const { return m_startupFailed; }

    // The state that the settings and the commands set, for reading.
    bool isProdActive() const { return prodActive; }
    bool recursesSubdirs() const { return recurseSubdirs; }
    QString mainDirectory() const { return mainDir; }
    QString filesFilterText() const { return filesFilter; }
    QStringList productionValues() const { return prodValues; }
    QStringList developmentValues() const { return devValues; }
    QStringList collectedFiles() const { return foundFiles; }

private Q_SLOTS:
    void on_pushButton_clicked();
    void on_pbDirChoice_clicked();
    void on_actionQuitter_triggered();
    void on_action_propos_de_Mirabex_triggered();
    void on_pbClearLog_clicked();

private:
    void runSwitch();

    std::unique_ptr<MainWindowForm> form;
    // Production is taken to be in force until config.ini says otherwise: a config.ini without
    // an Environnement= line describes a tree in production.
    bool prodActive = true;
    bool recurseSubdirs = true;
    QString mainDir;
    QString filesFilter;
    QPixmap logoPixmap;
    QStringList foundFiles;
    QStringList prodValues;
    QStringList devValues;

    bool m_startupFailed = false;
    bool m_switchRunning = false;
    // The journal of the run going through its files, whose paragraphs may wait to be shown.
    Journal *m_runJournal = nullptr;
};
