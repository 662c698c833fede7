#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class FileLock;
class Journal;
struct MainWindowForm;
struct SwitchRun;

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

    // Whether "Échanger les valeurs" is going through the tree.
    bool isSwitchRunning() const { return m_switchRunning; }

public Q_SLOTS:
    // The system asks the program to stop (the session ends, a shutdown, an interrupt), see
    // RunStop: a run going on is let go on to where it is abandoned or finished, then the program
    // ends; outside a run the program ends at once.
    void stopRequested();

Q_SIGNALS:
    // A switch run starts or ends.
    void switchRunningChanged(bool running);

private Q_SLOTS:
    void on_pushButton_clicked();
    void on_pbDirChoice_clicked();
    void on_actionQuitter_triggered();
    void on_action_propos_de_Mirabex_triggered();
    void on_pbClearLog_clicked();

private:
    void runSwitch();
    // The click once config.ini is locked and the settings loaded: what a stopped run left is
    // settled first (and the click ends there), then the tree is switched.
    void switchSettledTree(FileLock &configLock);
    SwitchRun switchLoadedTree(FileLock &configLock, bool leftoversSettled);
    enum class Settling {
        Nothing, // nothing was left in the tree
        Settled, // what was left is settled, and the user told
        // What was left could be neither put in place nor removed, and the user told: it stays
        // (to be looked at, or put in place another time).
        LeftToExamine,
        Elsewhere, // a switch of the tree is going on elsewhere: nothing was touched
    };
    // Settles what a switch stopped half-way left in the tree of mainDir (see
    // settleInterruptedRun) and tells the user, config.ini's lock let go once it is settled.
    // Unless always, only for a tree not looked at yet in the life of the program; a tree where a
    // run met such contents is looked at again.
    Settling finishInterruptedRun(FileLock &configLock, bool always = false);
    // At start-up, once the window can say so: what a switch stopped half-way left, settled
    // unless another window is switching the tree.
    void finishInterruptedRunAtStart();
    void settleAtStart();
    // The box that says another window (here or on another machine) is switching the tree.
    void showSwitchElsewhere();

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
    // What a run stopped half-way left is being looked for at start-up; a click meanwhile waits.
    bool m_settlingAtStart = false;
    bool m_clickWaiting = false;
    QSet<QString> m_settledFolders; // the trees looked at whole for what interrupted runs left
    quint64 m_installation = 0; // see installationHash
    // Drops what the journal of the run going on has not shown yet.
    std::function<void()> m_dropRunJournal;
};
