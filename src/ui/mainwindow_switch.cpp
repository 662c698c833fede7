// One switch run, as the window shows it: the run's progress in the progress bar, its records in
// the journal, its failures in boxes.

#include "ui/mainwindow.h"

#include "config/gui/messageboxes.h"
#include "switching/gui/journal.h"
#include "switching/gui/precheck.h"
#include "switching/gui/replacement.h"
#include "switching/interruptedrun.h"
#include "switching/runstop.h"
#include "switching/switchrun.h"
#include "ui/mainwindowform.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <optional>

namespace {

// Marks a run as in progress for as long as it lasts. While the run lets pending events through,
// a further click would otherwise start a second run inside the first one, which would reload
// the value lists under its feet and switch the tree back half-way.
class RunGuard
{
public:
    RunGuard(MainWindow *window, bool &running, QPushButton *button)
        : m_window(window), m_running(running), m_button(button)
    {
        m_running = true;
        RunStop::setRunning(true);
        m_button->setEnabled(false);
        Q_EMIT m_window->switchRunningChanged(true);
    }
    ~RunGuard()
    {
        m_button->setEnabled(true);
        m_running = false;
        RunStop::setRunning(false);
        Q_EMIT m_window->switchRunningChanged(false);
    }
    Q_DISABLE_COPY_MOVE(RunGuard)

private:
    MainWindow *m_window;
    bool &m_running;
    QPushButton *m_button;
};

// How often, at most, the journal is brought up to date while a run lets events through.
constexpr qint64 journalRefreshMs = 40;
// The same while assistive technology is on. Each update is one accessibility event (a flush is
// one change of the document), which a screen reader answers with questions to the window (the
// length, the caret, the inserted text, its line), answered between two files. A listening reader
// cost a run of 20,000 files some 15 % with an update every 40 ms, and 6 to 10 %, about what
// reading the text itself costs, with one every 150 ms or more. Where the updates fall does not
// change the journal at the end of the run.
constexpr qint64 journalRefreshAccessibleMs = 200;

// While a run goes on with assistive technology on, the progress bar's value is told to it when
// it reaches a new hundredth of the run, at most every 200 ms (and when it reaches its end), not
// at each of its steps of ten files: a screen reader answers each change with questions to the
// window, between two files, and a change every tenth file made a listening reader cost a run
// more than its whole journal did. Screen readers speak a bar's progress every few seconds at
// most. What the bar shows is unchanged.
constexpr qint64 progressHeardMs = 200;

// How often, at most, the progress bar is painted while a run goes on. Its value changes every
// ten files, and each change that moves it by a chunk would otherwise paint it there and then,
// which on a desktop costs a round trip to the display server every few dozen files.
constexpr qint64 progressPaintMs = 40;

// How often, at most, a run lets events through (clicks, the window's paints, its accessibility
// questions) between two progress bar paints: every tenth file would be every few hundred
// microseconds, each time a round of the event loop with nothing to do. The first step lets them
// through at once.
constexpr qint64 eventsMs = 10;

class ProgressHeardByHundredths
{
public:
    // Installed whether or not assistive technology is on yet: it may come on during the run (a
    // reader that connects, or the toolkit's bridge activated once the window is shown), and the
    // handler costs nothing until it does.
    explicit ProgressHeardByHundredths(QProgressBar *bar)
    {
        s_bar = bar;
        s_lastHundredth = -1;
        s_sinceTold.invalidate();
        s_previous = QAccessible::installUpdateHandler(&filter);
    }
    ~ProgressHeardByHundredths()
    {
        QAccessible::installUpdateHandler(s_previous);
        s_bar = nullptr;
    }
    Q_DISABLE_COPY_MOVE(ProgressHeardByHundredths)

private:
    static void filter(QAccessibleEvent *event)
    {
        if (event->type() == QAccessible::ValueChanged && event->object() == s_bar) {
            const qint64 value =
                    static_cast<QAccessibleValueChangeEvent *>(event)->value().toLongLong();
            const qint64 hundredth = value * 100 / qMax(s_bar->maximum(), 1);
            const bool last = value >= s_bar->maximum();
            if (hundredth == s_lastHundredth
                || (!last && s_sinceTold.isValid() && s_sinceTold.elapsed() < progressHeardMs))
                return;
            s_lastHundredth = hundredth;
            s_sinceTold.start();
        }
        if (s_previous) {
            s_previous(event);
            return;
        }
        // Without a handler of its own, the toolkit hands the event to the platform.
        QAccessible::installUpdateHandler(nullptr);
        QAccessible::updateAccessibility(event);
        QAccessible::installUpdateHandler(&filter);
    }

    static inline QProgressBar *s_bar = nullptr;
    static inline qint64 s_lastHundredth = -1;
    static inline QElapsedTimer s_sinceTold;
    static inline QAccessible::UpdateHandler s_previous = nullptr;
};

// The progress bar's updates are off while a run goes on (see RunShown::progress()). Meanwhile,
// for as long as this lasts (a box that waits for the user, events let through when the bar is
// due a paint), it is painted whenever the window is.
class BarPaintedMeanwhile
{
public:
    explicit BarPaintedMeanwhile(QProgressBar *bar) : m_bar(bar) { m_bar->setUpdatesEnabled(true); }
    ~BarPaintedMeanwhile() { m_bar->setUpdatesEnabled(false); }
    Q_DISABLE_COPY_MOVE(BarPaintedMeanwhile)

private:
    QProgressBar *m_bar;
};

// The progress bar's updates, off while the run goes through the files (see RunShown), come back
// on as soon as the run is over, before the bar is hidden: hidden while they are off, it would
// leave its last picture on the screen, where the row of controls moves down into its place.
class BarUpdatesOnAfterRun
{
public:
    explicit BarUpdatesOnAfterRun(QProgressBar *bar) : m_bar(bar) { }
    ~BarUpdatesOnAfterRun() { m_bar->setUpdatesEnabled(true); }
    Q_DISABLE_COPY_MOVE(BarUpdatesOnAfterRun)

private:
    QProgressBar *m_bar;
};

// Makes the run's journal known to the window for as long as the run lasts.
class JournalInUse
{
public:
    JournalInUse(Journal *&inUse, Journal &journal) : m_inUse(inUse) { m_inUse = &journal; }
    ~JournalInUse() { m_inUse = nullptr; }
    Q_DISABLE_COPY_MOVE(JournalInUse)

private:
    Journal *&m_inUse;
};

// What the run reports, put into the journal, the progress bar and the boxes.
class RunShown : public SwitchObserver
{
public:
    RunShown(const MainWindowForm &form, Journal &journal) : m_form(form), m_journal(journal) { }
    Q_DISABLE_COPY_MOVE(RunShown)

    void lineRecorded(const QString &path, const LineRecord &record) override
    {
        recordLine(path, record, m_journal);
    }
    void pairLeftAside(const QString &prodValue, const QString &devValue) override
    {
        recordPairLeftAside(prodValue, devValue, m_journal);
    }
    void folderNotRead(const QString &directory) override
    {
        m_leftBehind.append(directory);
        recordUnreadableDirectory(directory, m_journal);
    }
    void filesStarting(qsizetype count) override
    {
        m_form.progressBar->show();
        m_form.progressBar->setRange(0, static_cast<int>(count));
        // Painted with the events let through at most every progressPaintMs (see progress()).
        m_form.progressBar->setUpdatesEnabled(false);
        m_sinceJournalShown.start();
        m_sinceBarPainted.invalidate();
        m_sinceEvents.invalidate();
    }
    void progress(qsizetype done) override
    {
        // The journal is brought up to date for the user at most every few hundredths of a
        // second, a fifth of a second while assistive technology is on: each update costs as
        // much as a change of its whole document, and more again for assistive technology. A
        // click on "Vider le journal" drops what waits (see on_pbClearLog_clicked).
        const qint64 refreshMs =
                QAccessible::isActive() ? journalRefreshAccessibleMs : journalRefreshMs;
        if (m_sinceJournalShown.elapsed() >= refreshMs) {
            m_journal.flush();
            m_sinceJournalShown.restart();
        }
        m_form.progressBar->setValue(static_cast<int>(done));
        // The last step is painted: the end of a run (making the files durable, putting them in
        // place) may take a while on a slow disk.
        const bool paintBar = !m_sinceBarPainted.isValid()
                || m_sinceBarPainted.elapsed() >= progressPaintMs
                || done + 10 > m_form.progressBar->maximum();
        if (!paintBar && m_sinceEvents.isValid() && m_sinceEvents.elapsed() < eventsMs)
            return;
        m_sinceEvents.start();
        std::optional<BarPaintedMeanwhile> painted;
        if (paintBar) {
            painted.emplace(m_form.progressBar); // asks for a paint of its present value
            m_sinceBarPainted.start();
        }
        QCoreApplication::processEvents();
    }
    bool caseSensitive() const override { return m_form.cbSensitive->isChecked(); }
    // Once the program is to stop, no box waits for the user: the journal says it all.
    void fileNotRead(const QString &path, bool missing) override
    {
        m_journal.flush();
        if (!RunStop::requested()) {
            const BarPaintedMeanwhile painted(m_form.progressBar);
            showReadFailure(path, missing);
        }
        if (!missing) {
            m_leftBehind.append(path);
            recordUnreadableFile(path, m_journal);
        }
    }
    void fileLeftBehind(const QString &path, const FileSwitch &result) override
    {
        m_leftBehind.append(path);
        if (result.outcome == FileOutcome::LeftIntact) {
            recordLeftIntact(path, result.safety, m_journal);
            return;
        }
        if (result.outcome == FileOutcome::Changed) {
            recordChangedDuringRun(path, m_journal);
            return;
        }
        m_journal.flush();
        if (!RunStop::requested()) {
            const BarPaintedMeanwhile painted(m_form.progressBar);
            showWriteFailure(path, result.write);
        }
        recordFailedWrite(path, m_journal);
    }
    bool stopRequested() const override { return RunStop::requested(); }

    // The files and folders left in the environment the run switched from.
    const QStringList &leftBehind() const { return m_leftBehind; }

private:
    const MainWindowForm &m_form;
    Journal &m_journal;
    QElapsedTimer m_sinceJournalShown;
    QElapsedTimer m_sinceBarPainted;
    QElapsedTimer m_sinceEvents;
    QStringList m_leftBehind;
};

} // namespace

void MainWindow::runSwitch()
{
    if (m_switchRunning)
        return;
    {
        const RunGuard guard(this, m_switchRunning, form->pushButton);
        (void)restoreSettingsFile(QCoreApplication::applicationDirPath()
                                  + QStringLiteral("/config.ini"));
        if (loadSettings() && !finishInterruptedRun())
            switchLoadedTree();
    }
    // A stop asked for while the click went on (its boxes closed, the run abandoned or finished):
    // the program ends.
    if (RunStop::requested())
        QCoreApplication::exit(RunStop::exitStatus());
}

void MainWindow::switchLoadedTree()
{
    const QString folder = QCoreApplication::applicationDirPath();
    SwitchRequest request;
    request.mainDir = mainDir;
    request.recurse = recurseSubdirs;
    request.filterText = form->leFilterFiles->text();
    request.fromProduction = prodActive;
    request.pairs = { prodValues, devValues };
    request.configPath = folder + QStringLiteral("/config.ini");
    request.valuesPath = folder + QStringLiteral("/values.ini");

    prodActive = !request.fromProduction;
    Journal journal(form->teJournal);
    RunShown shown(*form, journal);
    SwitchRun run;
    {
        const JournalInUse journalInUse(m_runJournal, journal);
        const ProgressHeardByHundredths progressHeard(form->progressBar);
        const BarUpdatesOnAfterRun barUpdates(form->progressBar);
        run = switchTree(request, shown);
    }
    foundFiles = run.files;
    journal.flush();

    if (run.abandoned || run.environment.outcome != EnvironmentOutcome::Recorded) {
        // Nothing was switched: the tree and config.ini are as they were.
        prodActive = request.fromProduction;
        form->progressBar->hide();
    }
    if (run.abandoned)
        return;
    if (run.environment.outcome != EnvironmentOutcome::Recorded) {
        const QString &configPath = request.configPath;
        switch (run.environment.outcome) {
        case EnvironmentOutcome::Unreadable:
            showCriticalBox(nullptr, tr("Erreur"),
                            tr("Impossible d'ouvrir le fichier ") + configPath);
            break;
        case EnvironmentOutcome::NotWritten:
            showWriteFailure(configPath, run.environment.write);
            break;
        case EnvironmentOutcome::NotRewritable:
            showCriticalBox(this, windowTitle(),
                            tr("L'environnement ne peut pas être enregistré dans le fichier ")
                                    + configPath
                                    + tr(" : son texte UTF-16 ou UTF-32 est abîmé, sa réécriture "
                                         "l'altérerait. Aucun fichier n'a été modifié."));
            break;
        case EnvironmentOutcome::NotRecorded:
            showCriticalBox(this, windowTitle(),
                            tr("L'environnement ne peut pas être enregistré dans le fichier ")
                                    + configPath
                                    + tr(" : sa ligne Environnement= ne peut pas être réécrite. "
                                         "Aucun fichier n'a été modifié."));
            break;
        case EnvironmentOutcome::NotDurable:
            qWarning().noquote() << "Flush of the prepared files failed:"
                                 << run.environment.write.reason();
            showCriticalBox(this, windowTitle(),
                            tr("Les nouvelles versions des fichiers n'ont pas pu être écrites sur "
                               "le disque : l'échange a été annulé. Aucun fichier n'a été "
                               "modifié."));
            break;
        case EnvironmentOutcome::Changed:
            showCriticalBox(this, windowTitle(),
                            tr("Le fichier ") + configPath
                                    + tr(" a changé pendant l'échange : l'échange a été annulé. "
                                         "Aucun fichier n'a été modifié."));
            break;
        case EnvironmentOutcome::Recorded:
            break;
        }
        prodActive = request.fromProduction;
        return;
    }

    showEnvironment();
    form->progressBar->hide();

    if (run.filesLeftBehind > 0 || run.foldersLeftBehind > 0) {
        QString text = tr("L'échange n'est pas complet : une partie de l'arborescence est restée ")
                + (request.fromProduction ? tr("en production.") : tr("en développement."));
        if (run.filesLeftBehind > 0)
            text += u'\n' + tr("Fichiers non échangés : %1").arg(run.filesLeftBehind);
        if (run.foldersLeftBehind > 0)
            text += u'\n' + tr("Dossiers non parcourus : %1").arg(run.foldersLeftBehind);
        text += u'\n' + tr("Le journal les nomme, en rouge.");
        // The program is to end: a box would hold the end of the session, and the journal goes
        // with the window. The session's log keeps what was left behind.
        if (RunStop::requested()) {
            qWarning().noquote() << text;
            for (const QString &path : shown.leftBehind())
                qWarning().noquote() << "Left behind:" << path;
            return;
        }
        showWarningBox(this, windowTitle(), text);
    }
}

bool MainWindow::finishInterruptedRun()
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString tree = QFileInfo(mainDir).canonicalFilePath();
    if (tree.isEmpty() || m_settledFolders.contains(tree))
        return false;
    m_settledFolders.insert(tree);
    const InterruptedRun run = settleInterruptedRun(mainDir, { folder }, prodActive);
    if (run.isEmpty())
        return false;

    {
        Journal journal(form->teJournal);
        for (const InterruptedRun::File &file : run.files)
            recordInterruptedFile(file, journal);
    }
    const QString inForce = prodActive ? tr("en production") : tr("en développement");
    const QString other = prodActive ? tr("en développement") : tr("en production");
    QString text = tr("Le dernier échange ne s'est pas terminé : Mirabex a été arrêté pendant "
                      "l'échange.");
    const qsizetype placed = run.count(InterruptedRun::Fate::Placed);
    const qsizetype changed = run.count(InterruptedRun::Fate::Changed);
    const qsizetype notPlaced = run.count(InterruptedRun::Fate::NotPlaced);
    const qsizetype removed = run.count(InterruptedRun::Fate::Removed);
    const qsizetype notSettled = run.count(InterruptedRun::Fate::NotSettled);
    if (placed > 0 || changed > 0 || notPlaced > 0) {
        text += u'\n'
                + tr("Le nouvel environnement était déjà enregistré dans le fichier %1 : "
                     "l'échange a été terminé, l'arborescence est maintenant %2.")
                          .arg(folder + QStringLiteral("/config.ini"), inForce);
        text += u'\n' + tr("Fichiers mis en place : %1").arg(placed);
        if (changed > 0)
            text += u'\n'
                    + tr("Fichiers changés depuis, laissés tels quels (peut-être encore %1) : %2")
                              .arg(other)
                              .arg(changed);
        if (notPlaced > 0)
            text += u'\n'
                    + tr("Fichiers qui n'ont pas pu être mis en place, restés %1 : %2")
                              .arg(other)
                              .arg(notPlaced);
    }
    if (removed > 0) {
        text += u'\n'
                + tr("Le nouvel environnement n'était pas encore enregistré : l'échange a été "
                     "annulé, l'arborescence est restée %1.")
                          .arg(inForce);
        text += u'\n' + tr("Versions préparées supprimées : %1").arg(removed);
    }
    if (notSettled > 0)
        text += u'\n'
                + tr("Versions préparées laissées dans l'arborescence, à examiner : %1")
                          .arg(notSettled);
    text += u'\n' + tr("Le journal les nomme.");
    showWarningBox(this, windowTitle(), text);
    showEnvironment();
    return true;
}
