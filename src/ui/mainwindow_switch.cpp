// One switch run: the tree moves from the environment in force to the other one.

#include "ui/mainwindow.h"

#include "config/messageboxes.h"
#include "config/settingsgrammar.h"
#include "switching/filecollector.h"
#include "switching/filereader.h"
#include "switching/fileswitch.h"
#include "switching/journal.h"
#include "switching/precheck.h"
#include "switching/readahead.h"
#include "switching/replacement.h"
#include "ui/mainwindowform.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>

#include <optional>

namespace {

// Marks a run as in progress for as long as it lasts. While the run lets pending events through,
// a further click would otherwise start a second run inside the first one, which would reload
// the value lists under its feet and switch the tree back half-way.
class RunGuard
{
public:
    RunGuard(bool &running, QPushButton *button) : m_running(running), m_button(button)
    {
        m_running = true;
        m_button->setEnabled(false);
    }
    ~RunGuard()
    {
        m_button->setEnabled(true);
        m_running = false;
    }
    Q_DISABLE_COPY_MOVE(RunGuard)

private:
    bool &m_running;
    QPushButton *m_button;
};

// How often, at most, the journal is brought up to date while a run lets events through.
constexpr qint64 journalRefreshMs = 40;

// Makes the run's journal known to the window for as long as the run goes through its files.
class JournalInUse
{
public:
    JournalInUse(Journal *&inUse, Journal &journal) : m_inUse(inUse) { m_inUse = &journal; }
    ~JournalInUse() { m_inUse = nullptr; }
    Q_DISABLE_COPY_MOVE(JournalInUse)

private:
    Journal *&m_inUse;
};

} // namespace

void MainWindow::runSwitch()
{
    if (m_switchRunning)
        return;
    const RunGuard guard(m_switchRunning, form->pushButton);

    if (!loadSettings())
        return;

    const QString filterText = form->leFilterFiles->text();
    foundFiles.clear();
    QStringList unreadableDirectories;
    collectFiles(mainDir, foundFiles, recurseSubdirs, filterText, &unreadableDirectories);

    const bool fromProduction = prodActive;
    prodActive = !prodActive;

    // The new environment is recorded in config.ini before any file is switched: a tree in one
    // environment with config.ini naming the other would be switched the wrong way, or twice
    // the same way, by the next run.
    Journal journal(form->teJournal);
    const QString configPath = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    const EnvironmentOutcome recorded = recordEnvironment(
            configPath, !fromProduction, form->cbSensitive->isChecked(), mainDir, journal);
    if (recorded != EnvironmentOutcome::Recorded) {
        prodActive = fromProduction;
        journal.flush();
        if (recorded == EnvironmentOutcome::NotRewritable)
            showCriticalBox(this, windowTitle(),
                            tr("L'environnement ne peut pas être enregistré dans le fichier ")
                                    + configPath
                                    + tr(" : son texte UTF-16 ou UTF-32 est abîmé, sa réécriture "
                                         "l'altérerait. Aucun fichier n'a été modifié."));
        else if (recorded == EnvironmentOutcome::NotRecorded)
            showCriticalBox(this, windowTitle(),
                            tr("L'environnement ne peut pas être enregistré dans le fichier ")
                                    + configPath
                                    + tr(" : sa ligne Environnement= ne peut pas être réécrite. "
                                         "Aucun fichier n'a été modifié."));
        return;
    }

    // A pair with an empty value would only work one way: the switch back could not undo it.
    QList<qsizetype> leftAside;
    const ValuePairs usable = ValuePairs{ prodValues, devValues }.usablePairs(&leftAside);
    for (const qsizetype pair : std::as_const(leftAside))
        recordPairLeftAside(prodValues.at(pair), devValues.at(pair), journal);

    // The values of the run, ready for the search in each file, for either state of
    // "Sensible à la case", which the user may change while the run lets events through.
    const QStringList &fromValues = fromProduction ? usable.prodValues : usable.devValues;
    const QStringList &toValues = fromProduction ? usable.devValues : usable.prodValues;
    const SwitchValues valuesBySensitivity[2] = { SwitchValues(fromValues, toValues, false),
                                                  SwitchValues(fromValues, toValues, true) };
    auto values = [&](bool caseSensitive) -> const SwitchValues & {
        return valuesBySensitivity[caseSensitive ? 1 : 0];
    };

    // Each file is switched once: a file reached by a second path (a link to it, a folder linked
    // from elsewhere in the tree) would otherwise have its values looked for again in what the
    // first pass wrote. The program's own settings files are not files of the tree:
    // config.ini only gets its environment line, and values.ini must keep both sets of values.
    QSet<QString> handled;
    for (const QString &settingsFile :
         { configPath, QCoreApplication::applicationDirPath() + QStringLiteral("/values.ini") }) {
        const QString identity = fileIdentity(settingsFile);
        if (!identity.isEmpty())
            handled.insert(identity);
    }

    // A folder that could not be listed is said before the files: its files keep their values.
    // One reached by two paths (a link to it) is said once.
    QSet<QString> unreadableIdentities;
    qsizetype foldersLeftBehind = 0;
    for (const QString &directory : std::as_const(unreadableDirectories)) {
        const QString identity = fileIdentity(directory);
        if (!identity.isEmpty() && unreadableIdentities.contains(identity))
            continue;
        unreadableIdentities.insert(identity);
        recordUnreadableDirectory(directory, journal);
        ++foldersLeftBehind;
    }
    int filesLeftBehind = 0;
    form->progressBar->show();
    form->progressBar->setRange(0, static_cast<int>(foundFiles.size()));
    const QStringList files = foundFiles;
    // The next files are read and searched on the other core while this loop rewrites files and
    // fills the journal.
    ReadAhead readAhead(
            files,
            [&](const QByteArray &bytes, bool caseSensitive) {
                return bytesHoldAnyValue(bytes, values(caseSensitive));
            },
            form->cbSensitive->isChecked());
    int counter = 0;
    // The journal is brought up to date for the user at most every few hundredths of a second:
    // each update costs as much as a change of its whole document, and more again for
    // assistive technology. A click on "Vider le journal" drops what waits (see
    // on_pbClearLog_clicked).
    QElapsedTimer sinceJournalShown;
    sinceJournalShown.start();
    const JournalInUse journalInUse(m_runJournal, journal);
    for (const QString &path : files) {
        ++counter;
        if (counter % 10 == 0) {
            if (sinceJournalShown.elapsed() >= journalRefreshMs) {
                journal.flush();
                sinceJournalShown.restart();
            }
            form->progressBar->setValue(counter);
            QCoreApplication::processEvents();
            readAhead.setCaseSensitive(form->cbSensitive->isChecked());
        }
        const FileStamp stamp = fileStamp(path);
        std::optional<ReadAhead::File> ahead = readAhead.take(counter - 1, stamp);
        QString identity = stamp.valid ? stamp.identity() : fileIdentity(path);
        if (handled.contains(identity))
            continue;
        // Each file is read once, for the check and for the replacement: ahead of its turn when
        // it has not changed since, now otherwise.
        bool unreadable = false;
        std::optional<QByteArray> bytes;
        bool holdsValue = false;
        const bool caseSensitive = form->cbSensitive->isChecked();
        if (ahead) {
            bytes = std::move(ahead->bytes);
            holdsValue = ahead->caseSensitive == caseSensitive
                    ? ahead->holdsValue
                    : bytesHoldAnyValue(*bytes, values(caseSensitive));
        } else {
            bytes = readFileToCheck(path, &journal, &unreadable);
            holdsValue = bytes && bytesHoldAnyValue(*bytes, values(caseSensitive));
        }
        if (unreadable) {
            recordUnreadableFile(path, journal);
            ++filesLeftBehind;
        }
        if (holdsValue) {
            switch (replaceValuesInBytes(*bytes, values(form->cbSensitive->isChecked()), path,
                                         journal)) {
            case FileOutcome::Switched:
                // Known by what the path leads to once done: a rewritten file is a new file in
                // the folder. Another hard link to the file as it was keeps the old content and
                // is switched in turn.
                identity = fileIdentity(path);
                break;
            case FileOutcome::NotWritten:
                // Nothing was written: another name of the same file is tried in its turn.
                recordFailedWrite(path, journal);
                ++filesLeftBehind;
                identity.clear();
                break;
            case FileOutcome::LeftIntact:
                ++filesLeftBehind;
                break;
            case FileOutcome::NoValue:
                break;
            }
        }
        if (!identity.isEmpty())
            handled.insert(identity);
    }
    journal.flush();

    showEnvironment();
    form->progressBar->hide();

    if (filesLeftBehind > 0 || foldersLeftBehind > 0) {
        QString text = tr("L'échange n'est pas complet : une partie de l'arborescence est restée ")
                + (fromProduction ? tr("en production.") : tr("en développement."));
        if (filesLeftBehind > 0)
            text += u'\n' + tr("Fichiers non échangés : %1").arg(filesLeftBehind);
        if (foldersLeftBehind > 0)
            text += u'\n' + tr("Dossiers non parcourus : %1").arg(foldersLeftBehind);
        text += u'\n' + tr("Le journal les nomme, en rouge.");
        showWarningBox(this, windowTitle(), text);
    }
}
