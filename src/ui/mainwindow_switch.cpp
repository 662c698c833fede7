// One switch run, as the window shows it: the run's progress in the progress bar, its records in
// the journal, its failures in boxes.

#include "ui/mainwindow.h"

#include "config/gui/messageboxes.h"
#include "config/settingsload.h"
#include "switching/gui/journal.h"
#include "files/filelock.h"
#include "files/filesystem.h"
#include "switching/gui/replacement.h"
#include "switching/interruptedrun.h"
#include "switching/runstop.h"
#include "switching/threadpriority.h"
#include "switching/switchrun.h"
#include "ui/mainwindowform.h"
#include "ui/offthewindow.h"

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
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace {

// Marks a run as in progress for as long as it lasts. While the run lets pending events through,
// a further click would otherwise start a second run inside the first one, which would reload
// the value lists under its feet and switch the tree back half-way.
class RunGuard
{
public:
    // button: disabled meanwhile, unless null.
    RunGuard(MainWindow *window, bool &running, QPushButton *button)
        : m_window(window), m_running(running), m_button(button)
    {
        m_running = true;
        RunStop::setRunning(true);
        if (m_button)
            m_button->setEnabled(false);
        Q_EMIT m_window->switchRunningChanged(true);
    }
    ~RunGuard()
    {
        if (m_button)
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

// Makes the window able to drop what the run's journal has not shown yet, for as long as the run
// lasts (see on_pbClearLog_clicked).
class JournalInUse
{
public:
    JournalInUse(std::function<void()> &dropPending, std::function<void()> drop)
        : m_dropPending(dropPending)
    {
        m_dropPending = std::move(drop);
    }
    ~JournalInUse() { m_dropPending = nullptr; }
    Q_DISABLE_COPY_MOVE(JournalInUse)

private:
    std::function<void()> &m_dropPending;
};

// What the run reports, put into the journal, the progress bar and the boxes.
class RunShown : public SwitchObserver
{
public:
    RunShown(const MainWindowForm &form, Journal &journal) : m_form(form), m_journal(journal) { }
    Q_DISABLE_COPY_MOVE(RunShown)

    void lineRecorded(const QString &path, const LineRecord &record) override
    {
        m_recorded = true;
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
        m_form.progressBar->setRange(0, static_cast<int>(count));
        // Shown with its first step (see progress()): a run of fewer than ten files ends before
        // the bar would show anything.
        m_form.progressBar->setUpdatesEnabled(false);
        m_sinceJournalShown.start();
        m_sinceBarPainted.invalidate();
    }
    void progress(qsizetype done) override
    {
        m_form.progressBar->show();
        m_form.progressBar->setValue(static_cast<int>(done));
        // The last step is painted: the end of a run (making the files durable, putting them in
        // place) may take a while on a slow disk.
        if (!m_sinceBarPainted.isValid() || m_sinceBarPainted.elapsed() >= progressPaintMs
            || done + 10 > m_form.progressBar->maximum()) {
            const BarPaintedMeanwhile painted(m_form.progressBar);
            m_form.progressBar->repaint();
            m_sinceBarPainted.start();
        }
    }
    // The journal is brought up to date for the user at most every few hundredths of a second, a
    // fifth of a second while assistive technology is on: each update costs as much as a change
    // of its whole document, and more again for assistive technology. A click on "Vider le
    // journal" drops what waits (see on_pbClearLog_clicked).
    void showJournal()
    {
        const qint64 refreshMs =
                QAccessible::isActive() ? journalRefreshAccessibleMs : journalRefreshMs;
        if (m_sinceJournalShown.isValid() && m_sinceJournalShown.elapsed() < refreshMs)
            return;
        m_journal.flush();
        m_sinceJournalShown.start();
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
        // Once the new environment is recorded, the files that could not be put in place are
        // said together, in the box that ends the run.
        if (result.outcome == FileOutcome::NotPlaced) {
            qWarning().noquote() << "Putting" << path
                                 << "in place failed:" << result.write.reason();
            if (result.waits)
                recordNotPlaced(path, m_journal);
            else
                recordFailedWrite(path, m_journal);
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
    // Whether the journal got records of the run (config.ini's come first, once it is prepared).
    bool recorded() const { return m_recorded; }

private:
    const MainWindowForm &m_form;
    Journal &m_journal;
    QElapsedTimer m_sinceJournalShown;
    QElapsedTimer m_sinceBarPainted;
    QStringList m_leftBehind;
    bool m_recorded = false;
};

// Hands what a run reports, from the thread it goes on, to the window's thread, in its order: the
// window's thread waits on no storage, and answers its user, its painting and assistive
// technology all along. A box about a file holds the run until it is closed, as the user may
// change the tree meanwhile; what else the run reports goes on without waiting, a bounded number
// of reports ahead of the window.
class RunRelay : public SwitchObserver
{
public:
    RunRelay(RunShown &shown, QObject *window, QCheckBox *caseBox)
        : m_shown(shown), m_caseSensitive(caseBox->isChecked())
    {
        m_caseConnection = QObject::connect(caseBox, &QCheckBox::toggled, window,
                                            [this](bool checked) { m_caseSensitive = checked; });
        m_handOnTimer.setInterval(handOnEveryMs);
        QObject::connect(&m_handOnTimer, &QTimer::timeout, &m_handOnTimer, [this] { handOn(); });
        m_handOnTimer.start();
    }
    ~RunRelay() override { QObject::disconnect(m_caseConnection); }
    Q_DISABLE_COPY_MOVE(RunRelay)

    // On the run's thread.
    void lineRecorded(const QString &path, const LineRecord &record) override
    {
        post(Report(Kind::Line, path, record));
    }
    void pairLeftAside(const QString &prodValue, const QString &devValue) override
    {
        LineRecord pair;
        pair.before = devValue;
        post(Report(Kind::PairLeftAside, prodValue, pair));
    }
    void folderNotRead(const QString &directory) override
    {
        post(Report(Kind::FolderNotRead, directory));
    }
    void filesStarting(qsizetype count) override
    {
        Report report(Kind::FilesStarting);
        report.number = count;
        post(std::move(report));
    }
    void progress(qsizetype done) override
    {
        Report report(Kind::Progress);
        report.number = done;
        post(std::move(report));
    }
    bool caseSensitive() const override { return m_caseSensitive; }
    void fileNotRead(const QString &path, bool missing) override
    {
        Report report(Kind::FileNotRead, path);
        report.number = missing ? 1 : 0;
        postAndWait(std::move(report));
    }
    void fileLeftBehind(const QString &path, const FileSwitch &result) override
    {
        Report report(Kind::FileLeftBehind, path);
        report.result = result;
        // A write that failed is said in a box at once, the others in the journal.
        if (result.outcome == FileOutcome::NotWritten)
            postAndWait(std::move(report));
        else
            post(std::move(report));
    }
    bool stopRequested() const override { return RunStop::requested(); }
    // The run is over: nothing more comes.
    void finished() { post(Report(Kind::Finished), true); }

    // On the window's thread: whether the run is over and all it said is shown.
    bool isFinished() const { return m_finished; }
    // The journal's records that wait are dropped, as if shown and cleared.
    void dropJournal()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_droppedUpTo = m_posted;
    }

private:
    enum class Kind {
        Line,
        PairLeftAside,
        FolderNotRead,
        FilesStarting,
        Progress,
        FileNotRead,
        FileLeftBehind,
        Finished,
    };
    struct Report
    {
        Report() = default;
        explicit Report(Kind what, const QString &about = QString(),
                        const LineRecord &line = LineRecord())
            : kind(what), path(about), record(line)
        {
        }
        Kind kind = Kind::Finished;
        QString path;
        LineRecord record;
        qsizetype number = 0;
        FileSwitch result;
        quint64 sequence = 0;
    };
    // More reports than this wait for the window, and the run waits for it to catch up.
    static constexpr qsizetype mostWaiting = 16384;
    // How long the window's thread hands reports on before it lets its events through again.
    static constexpr qint64 sliceMs = 20;
    // How often the window's thread takes what the run reported: the window is not woken for
    // each record, only for the reports the run waits on and for the end of the run.
    static constexpr int handOnEveryMs = 10;

    quint64 post(Report &&report, bool wakeWindow = false)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_waiting.size() < mostWaiting; });
        report.sequence = ++m_posted;
        const quint64 sequence = report.sequence;
        m_waiting.push_back(std::move(report));
        if (wakeWindow)
            askHandOn();
        return sequence;
    }
    // Asks the window's thread to hand on at its next turn, unless it is asked already: at most
    // one such request waits at a time. Under m_mutex.
    void askHandOn()
    {
        if (m_handOnPosted)
            return;
        m_handOnPosted = true;
        QMetaObject::invokeMethod(
                &m_handOnTimer,
                [this] {
                    {
                        const std::lock_guard<std::mutex> lock(m_mutex);
                        m_handOnPosted = false;
                    }
                    handOn();
                },
                Qt::QueuedConnection);
    }
    void postAndWait(Report &&report)
    {
        const quint64 sequence = post(std::move(report), true);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_handedOn >= sequence; });
    }

    // On the window's thread. The reports are taken from the run's queue all at once, as many
    // as wait, and shown one after the other until the slice is over; those left go back first.
    void handOn()
    {
        if (m_handingOn)
            return; // a box of the reports handed on waits for the user: they go on after it
        m_handingOn = true;
        QElapsedTimer slice;
        slice.start();
        std::deque<Report> taken;
        quint64 shownUpTo = m_handedOn;
        for (;;) {
            if (taken.empty() || slice.elapsed() >= sliceMs) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                // A report that the run waits for is the last it posted: the run hears of it
                // here, once the reports before it are shown.
                if (m_handedOn != shownUpTo) {
                    m_handedOn = shownUpTo;
                    m_changed.notify_all();
                }
                if (!taken.empty()) {
                    std::move(m_waiting.begin(), m_waiting.end(), std::back_inserter(taken));
                    m_waiting.swap(taken);
                    askHandOn();
                    break;
                }
                if (m_waiting.empty())
                    break;
                taken.swap(m_waiting);
                m_changed.notify_all();
            }
            const Report report = std::move(taken.front());
            taken.pop_front();
            // A box shown here lets events through: the journal may be cleared meanwhile.
            show(report, report.sequence <= m_droppedUpTo);
            shownUpTo = report.sequence;
        }
        m_shown.showJournal();
        m_handingOn = false;
    }
    void show(const Report &report, bool dropped)
    {
        switch (report.kind) {
        case Kind::Line:
            if (!dropped)
                m_shown.lineRecorded(report.path, report.record);
            return;
        case Kind::PairLeftAside:
            if (!dropped)
                m_shown.pairLeftAside(report.path, report.record.before);
            return;
        case Kind::FolderNotRead:
            m_shown.folderNotRead(report.path);
            return;
        case Kind::FilesStarting:
            m_shown.filesStarting(report.number);
            return;
        case Kind::Progress:
            m_shown.progress(report.number);
            return;
        case Kind::FileNotRead:
            m_shown.fileNotRead(report.path, report.number != 0);
            return;
        case Kind::FileLeftBehind:
            m_shown.fileLeftBehind(report.path, report.result);
            return;
        case Kind::Finished:
            m_finished = true;
            return;
        }
    }

    RunShown &m_shown;
    QMetaObject::Connection m_caseConnection;
    // Also what the window's thread is asked to hand on through: once the relay is gone, what
    // was asked of it is dropped with it.
    QTimer m_handOnTimer;
    std::atomic<bool> m_caseSensitive;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Report> m_waiting;
    quint64 m_posted = 0;
    quint64 m_handedOn = 0;
    quint64 m_droppedUpTo = 0;
    bool m_handOnPosted = false;
    bool m_handingOn = false;
    bool m_finished = false;
};

// Why a run was abandoned before anything was written: a cause that would meet every file.
QString storageFailureText(const SwitchRun &run)
{
    const QString cancelled = QCoreApplication::translate(
            "MainWindow",
            "Les autres fichiers ne pourraient pas l'être non plus : l'échange a été annulé. "
            "Aucun fichier n'a été modifié.");
    QString reason;
    switch (run.storageFault) {
    case StorageFault::Full:
        reason = QCoreApplication::translate("MainWindow", "le disque est plein.");
        break;
    case StorageFault::QuotaReached:
        reason = QCoreApplication::translate("MainWindow", "le quota de disque est atteint.");
        break;
    case StorageFault::ReadOnly:
        reason = QCoreApplication::translate("MainWindow", "le disque est en lecture seule.");
        break;
    case StorageFault::TooManyFiles:
        reason = QCoreApplication::translate("MainWindow", "trop de fichiers sont ouverts.");
        break;
    case StorageFault::Unreachable:
        if (run.storageFailure)
            return QCoreApplication::translate("MainWindow", "Le dossier ") + run.storageFailurePath
                    + QCoreApplication::translate("MainWindow",
                                                  " ne répond plus : l'échange a été annulé. "
                                                  "Aucun fichier n'a été modifié.");
        reason = QCoreApplication::translate("MainWindow",
                                             "le disque ou le partage ne répond plus.");
        break;
    case StorageFault::None:
    case StorageFault::FileOnly:
    case StorageFault::NameTaken:
        break;
    }
    return QCoreApplication::translate("MainWindow", "Le fichier ") + run.storageFailurePath
            + QCoreApplication::translate("MainWindow", " ne peut pas être écrit : ") + reason
            + u'\n' + cancelled;
}

} // namespace

void MainWindow::runSwitch()
{
    if (m_switchRunning)
        return;
    {
        const RunGuard guard(this, m_switchRunning, form->pushButton);
        const QString configPath =
                QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
        // One switch of a tree at a time: config.ini stays locked while this click acts on the
        // tree, and another window that holds it (or replaces it) is switching the tree now.
        FileLock configLock;
        if (offTheWindow([&] {
                return restoreSettingsFile(configPath) == SettingsRestore::HeldByRun
                        || configLock.lock(configPath) == FileLock::Outcome::Held;
            }))
            showSwitchElsewhere();
        else if (loadSettings())
            switchSettledTree(configLock);
    }
    // A stop asked for while the click went on (its boxes closed, the run abandoned or finished):
    // the program ends.
    if (RunStop::requested())
        QCoreApplication::exit(RunStop::exitStatus());
}

void MainWindow::switchSettledTree(FileLock &configLock)
{
    // A run that meets what another left stops before it writes anything. Once that is settled,
    // the click ends there; it goes on when there was nothing left to settle after all (a run
    // that ended meanwhile), or only contents that stay to be looked at.
    bool leftToExamine = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (finishInterruptedRun(configLock, attempt > 0)) {
        case Settling::Settled:
            return;
        case Settling::Elsewhere:
            showSwitchElsewhere();
            return;
        case Settling::LeftToExamine:
            leftToExamine = true;
            break;
        case Settling::Nothing:
            break;
        }
        // Let go while a box said what was settled: taken again, unless another window took it.
        if (!configLock.isHeld()
            && configLock.lock(QCoreApplication::applicationDirPath()
                               + QStringLiteral("/config.ini"))
                    == FileLock::Outcome::Held) {
            showSwitchElsewhere();
            return;
        }
        if (!switchLoadedTree(configLock, leftToExamine).leftoversFound)
            return;
    }
    // The names the run needs are taken by contents that stay to be looked at.
    showWarningBox(this, windowTitle(),
                   tr("L'échange n'a pas été fait : des versions de fichiers préparées par un "
                      "échange précédent, qui n'ont pu être ni mises en place ni supprimées, "
                      "occupent les noms dont il a besoin. Le journal les nomme. Aucun fichier "
                      "n'a été modifié."));
}

void MainWindow::showSwitchElsewhere()
{
    showWarningBox(this, windowTitle(),
                   tr("Un échange de l'arborescence ") + mainDir
                           + tr(" est en cours dans une autre fenêtre de Mirabex, sur ce poste ou "
                                "sur un autre : cliquez de nouveau sur « Échanger les valeurs » "
                                "une fois qu'il sera terminé. Aucun fichier n'a été modifié."));
}

SwitchRun MainWindow::switchLoadedTree(FileLock &configLock, bool leftoversSettled)
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
    request.configLock = &configLock;
    request.leftoversSettled = leftoversSettled;
    request.installation = m_installation;

    prodActive = !request.fromProduction;
    Journal journal(form->teJournal);
    RunShown shown(*form, journal);
    SwitchRun run;
    {
        // The run goes on a thread of its own; the window's thread shows what it reports, and
        // goes on answering meanwhile.
        RunRelay relay(shown, this, form->cbSensitive);
        const JournalInUse journalInUse(m_dropRunJournal, [&] {
            relay.dropJournal();
            journal.dropPending();
        });
        const ProgressHeardByHundredths progressHeard(form->progressBar);
        const BarUpdatesOnAfterRun barUpdates(form->progressBar);
        std::thread runner([&] {
            lowerThreadPriority();
            run = switchTree(request, relay);
            relay.finished();
        });
        while (!relay.isFinished())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        runner.join();
    }
    // The run is over: another window may switch the tree while this one shows its boxes.
    offTheWindow([&] { configLock.release(); }); // a request when config.ini is on a share
    foundFiles = run.files;

    if (!run.recorded()) {
        // Nothing was switched: the tree and config.ini are as they were.
        prodActive = request.fromProduction;
        form->progressBar->hide();
        if (shown.recorded() && !run.leftoversFound)
            recordRunAbandoned(mainDir, request.fromProduction, journal);
    }
    journal.flush();
    if (run.abandoned || run.leftoversFound)
        return run;
    if (run.switchElsewhere) {
        showSwitchElsewhere();
        return run;
    }
    if (run.storageFault != StorageFault::None) {
        qWarning().noquote() << "Switch abandoned at" << run.storageFailurePath << ":"
                             << run.storageFailure.reason();
        showCriticalBox(this, windowTitle(), storageFailureText(run));
        return run;
    }
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
        return run;
    }

    showEnvironment();
    form->progressBar->hide();

    QStringList text;
    if (run.filesLeftBehind > 0 || run.foldersLeftBehind > 0) {
        text += tr("L'échange n'est pas complet : une partie de l'arborescence est restée ")
                + (request.fromProduction ? tr("en production.") : tr("en développement."));
        if (run.filesLeftBehind > 0)
            text += tr("Fichiers non échangés : %1").arg(run.filesLeftBehind);
        if (run.foldersLeftBehind > 0)
            text += tr("Dossiers non parcourus : %1").arg(run.foldersLeftBehind);
        if (run.filesNotPlaced > 0)
            text += tr("Parmi eux, nouvelles versions qui attendent à côté de leur fichier "
                       "d'être mises en place : %1 (le prochain clic sur « Échanger les "
                       "valeurs », ou le prochain démarrage de Mirabex, les mettra en place).")
                            .arg(run.filesNotPlaced);
        text += tr("Le journal les nomme, en rouge.");
    }
    if (run.placementPostponed) {
        qWarning().noquote() << "Flush of config.ini's folder failed:" << run.durable.reason();
        text += tr("Le disque n'a pas confirmé l'enregistrement du nouvel environnement dans le "
                   "fichier %1 : les nouvelles versions des fichiers (%2) attendent à côté "
                   "d'eux, et le prochain clic sur « Échanger les valeurs », ou le prochain "
                   "démarrage de Mirabex, les mettra en place. D'ici là, l'arborescence est "
                   "encore %3.")
                        .arg(request.configPath)
                        .arg(run.filesNotPlaced)
                        .arg(request.fromProduction ? tr("en production") : tr("en développement"));
    } else if (!run.durable) {
        qWarning().noquote() << "Flush after the switch failed:" << run.durable.reason();
        text += tr("Le disque n'a pas confirmé l'écriture de l'échange : une coupure de courant "
                   "dans les instants qui suivent pourrait en perdre une partie.");
    }
    if (text.isEmpty())
        return run;
    // The program is to end: a box would hold the end of the session, and the journal goes
    // with the window. The session's log keeps what was left behind.
    if (RunStop::requested()) {
        qWarning().noquote() << text.join(u'\n');
        for (const QString &path : shown.leftBehind())
            qWarning().noquote() << "Left behind:" << path;
        return run;
    }
    showWarningBox(this, windowTitle(), text.join(u'\n'));
    return run;
}

void MainWindow::finishInterruptedRunAtStart()
{
    {
        // The window goes on answering meanwhile. « Échanger les valeurs » stays as it shows: a
        // click there, as the window appears, is kept and runs once this is done.
        const RunGuard guard(this, m_switchRunning, nullptr);
        m_settlingAtStart = true;
        settleAtStart();
        m_settlingAtStart = false;
    }
    // A stop asked for meanwhile: the program ends, as after a click.
    if (RunStop::requested())
        QCoreApplication::exit(RunStop::exitStatus());
    else if (std::exchange(m_clickWaiting, false))
        runSwitch();
}

void MainWindow::settleAtStart()
{
    // Not while another window switches the tree: its contents are not leftovers, and its lock on
    // config.ini says so. Once that lock is taken, config.ini is read again: such a window may
    // have switched the tree since this one read it.
    const QString folder = QCoreApplication::applicationDirPath();
    FileLock configLock;
    const SettingsInForce inForce{ mainDir, filesFilter, form->leFilterFiles->text() };
    const bool elsewhere = offTheWindow([&] {
        return configLock.lock(folder + QStringLiteral("/config.ini")) == FileLock::Outcome::Held;
    });
    if (elsewhere)
        return;
    const SettingsLoad load = offTheWindow([&] { return loadSettingsFiles(folder, inForce); });
    if (load.fault != SettingsLoad::Fault::None)
        return;
    if (load.config.prodActive && *load.config.prodActive != prodActive) {
        prodActive = *load.config.prodActive;
        showEnvironment();
    }
    (void)finishInterruptedRun(configLock);
}

MainWindow::Settling MainWindow::finishInterruptedRun(FileLock &configLock, bool always)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString tree = offTheWindow([path = folderPathFromSettings(mainDir)] {
        return QFileInfo(path).canonicalFilePath(); // a request per folder of the path
    });
    if (tree.isEmpty() || (!always && m_settledFolders.contains(tree)))
        return Settling::Nothing;
    const InterruptedRun run = offTheWindow([&, tree = mainDir, production = prodActive] {
        return settleInterruptedRun(tree, { folder }, production, m_installation);
    });
    if (run.busy)
        return Settling::Elsewhere;
    m_settledFolders.insert(tree);
    if (run.isEmpty())
        return Settling::Nothing;
    // Settled: another window may switch the tree while this one says what was done.
    offTheWindow([&] { configLock.release(); });
    {
        Journal journal(form->teJournal);
        for (const InterruptedRun::File &file : run.files)
            recordInterruptedFile(file, journal);
    }
    const QString inForce = prodActive ? tr("en production") : tr("en développement");
    const QString other = prodActive ? tr("en développement") : tr("en production");
    QString text = tr("Le dernier échange ne s'est pas terminé : Mirabex a été arrêté pendant "
                      "l'échange, ou n'a pas pu mettre en place tous ses fichiers.");
    const qsizetype placed = run.count(InterruptedRun::Fate::Placed);
    const qsizetype changed = run.count(InterruptedRun::Fate::Changed);
    const qsizetype notPlaced = run.count(InterruptedRun::Fate::NotPlaced);
    const qsizetype removed = run.count(InterruptedRun::Fate::Removed);
    const qsizetype notSettled = run.count(InterruptedRun::Fate::NotSettled);
    const qsizetype gone = run.count(InterruptedRun::Fate::Gone);
    if (placed > 0 || changed > 0 || notPlaced > 0) {
        text += u'\n'
                + (placed > 0 || changed > 0
                           ? tr("Le nouvel environnement était déjà enregistré dans le fichier %1 "
                                ": l'échange a été terminé, l'arborescence est maintenant %2.")
                                     .arg(folder + QStringLiteral("/config.ini"), inForce)
                           : tr("Le nouvel environnement était déjà enregistré dans le fichier "
                                "%1, mais l'échange n'a pas pu être terminé.")
                                     .arg(folder + QStringLiteral("/config.ini")));
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
        const qsizetype kept =
                std::count_if(run.files.cbegin(), run.files.cend(), [](const auto &file) {
                    return file.fate == InterruptedRun::Fate::NotPlaced && file.write.mayPass();
                });
        if (kept > 0)
            text += u'\n'
                    + tr("Nouvelles versions gardées pour le prochain clic sur « Échanger les "
                         "valeurs » : %1")
                              .arg(kept);
    }
    if (removed > 0) {
        text += u'\n'
                + tr("Le nouvel environnement n'était pas encore enregistré : l'échange a été "
                     "annulé, l'arborescence est restée %1.")
                          .arg(inForce);
        text += u'\n' + tr("Versions préparées supprimées : %1").arg(removed);
    }
    if (gone > 0)
        text += u'\n'
                + tr("Fichiers supprimés ou renommés depuis, laissés ainsi (leurs nouvelles "
                     "versions ont été supprimées) : %1")
                          .arg(gone);
    if (notSettled > 0)
        text += u'\n'
                + tr("Versions préparées laissées dans l'arborescence, à examiner : %1")
                          .arg(notSettled);
    text += u'\n' + tr("Le journal les nomme.");
    showWarningBox(this, windowTitle(), text);
    showEnvironment();
    // Contents that could be neither put in place nor removed (again) do not hold the click: the
    // run goes on beside them.
    return notSettled + notPlaced == run.files.size() ? Settling::LeftToExamine : Settling::Settled;
}
