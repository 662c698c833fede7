#pragma once

class QAction;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpacerItem;
class QStatusBar;
class QTabWidget;
class QVBoxLayout;
class QWidget;

// The widget tree of the main window, in the order in which setupUi creates it. The widgets are
// owned by the window's parent-child tree; this structure only points at them.
struct MainWindowForm
{
    QAction *actionQuitter = nullptr;
    QAction *action_propos_de_Mirabex = nullptr;
    QWidget *centralwidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QTabWidget *main_tabWidget = nullptr;
    QWidget *main_tab = nullptr;
    QVBoxLayout *verticalLayout_2 = nullptr;
    QLabel *labelLogo = nullptr;
    QWidget *journal_tab = nullptr;
    QVBoxLayout *verticalLayout_3 = nullptr;
    QPlainTextEdit *teJournal = nullptr;
    QGridLayout *gridLayout = nullptr;
    QSpacerItem *horizontalSpacer_2 = nullptr;
    QCheckBox *cbSubdirs = nullptr;
    QLabel *label = nullptr;
    QPushButton *pbClearLog = nullptr;
    QPushButton *pushButton = nullptr;
    QPushButton *pbDirChoice = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QCheckBox *cbSensitive = nullptr;
    QLineEdit *leFilterFiles = nullptr;
    QProgressBar *progressBar = nullptr;
    QMenuBar *menubar = nullptr;
    QMenu *menuFichier = nullptr;
    QMenu *menu = nullptr;
    QStatusBar *statusbar = nullptr;

    // Builds the tree on window, sets the texts and connects the window's slots by name.
    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};
