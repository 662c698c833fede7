#include "ui/mainwindow.h"

#include "files/filelock.h"
#include "switching/gui/journal.h"
#include "switching/interruptedrun.h"
#include "switching/runstop.h"
#include "ui/fenapropos.h"
#include "ui/mainwindowform.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSessionManager>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), form(new MainWindowForm)
{
    form->setupUi(this);

    m_installation = installationHash(QCoreApplication::applicationDirPath());
    // A config.ini that a stop left missing while Windows replaced it comes back as it was.
    (void)restoreSettingsFile(QCoreApplication::applicationDirPath()
                              + QStringLiteral("/config.ini"));
    if (loadSettings()) {
        showEnvironment();
        // A switch stopped half-way last time is settled as soon as the window can say so, and
        // in any case before the next switch (see runSwitch).
        QTimer::singleShot(0, this, [this] {
            if (!m_switchRunning)
                finishInterruptedRunAtStart();
        });
    } else {
        // The event loop has not started yet, so a plain quit() would be lost: queue it, so
        // that the loop ends as soon as it runs. The entry point does not show the window.
        m_startupFailed = true;
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

    setWindowIcon(QIcon(QStringLiteral(":/icons/icon-32.png")));

    form->progressBar->setStyleSheet(QStringLiteral(
            "QProgressBar::chunk{background-color:green; width: 10px; margin: 0.5px;}"));
    form->progressBar->setTextVisible(false);
    form->progressBar->hide();

    form->teJournal->setReadOnly(true);
    // Nobody undoes in a read-only journal: keeping an undo record of each of its paragraphs
    // would only cost time and memory in a switch that writes tens of thousands of them.
    form->teJournal->setUndoRedoEnabled(false);

    // The session manager asks whether the session may end: not while a run goes on, which is
    // told to stop (abandoned before it records the new environment, finished after), after which
    // the program ends.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &manager) {
        if (!m_switchRunning)
            return;
        manager.cancel();
        RunStop::request(0);
        stopRequested();
    });
}

MainWindow::~MainWindow() = default;

void MainWindow::showEnvironment()
{
    const QString path = prodActive ? QStringLiteral(":/icons/prod.png")
                                    : QStringLiteral(":/icons/developpement.png");
    logoPixmap = QPixmap(path);
    form->labelLogo->setPixmap(logoPixmap);
    form->labelLogo->setAlignment(Qt::AlignCenter);
    // The picture says the environment to those who see it; its name says it to a screen reader.
    form->labelLogo->setAccessibleName(prodActive ? tr("Environnement en vigueur : production")
                                                  : tr("Environnement en vigueur : développement"));
}

void MainWindow::stopRequested()
{
    if (!m_switchRunning) {
        QCoreApplication::exit(RunStop::exitStatus());
        return;
    }
    // The run waits for the user in a box or a dialog: closed, so that it goes on to its end.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
            dialog->reject();
    }
}

void MainWindow::on_pushButton_clicked()
{
    if (m_settlingAtStart) {
        m_clickWaiting = true;
        return;
    }
    runSwitch();
}

void MainWindow::on_pbDirChoice_clicked()
{
    const QString start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    mainDir = QFileDialog::getExistingDirectory(this, tr("Dossier source"), start,
                                                QFileDialog::ShowDirsOnly
                                                        | QFileDialog::DontResolveSymlinks);
    statusBar()->showMessage(tr("Dossier de recherche : ") + mainDir, 0);
}

void MainWindow::on_actionQuitter_triggered()
{
    QCoreApplication::quit();
}

void MainWindow::on_action_propos_de_Mirabex_triggered()
{
    auto *about = new FenAPropos(this);
    about->show();
}

void MainWindow::on_pbClearLog_clicked()
{
    // A run going on may hold paragraphs not shown yet: they go too.
    if (m_dropRunJournal)
        m_dropRunJournal();
    form->teJournal->clear();
}
