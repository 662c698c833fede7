// One switch run: the tree moves from the environment in force to the other one.

#include "ui/mainwindow.h"

#include "config/messageboxes.h"
#include "switching/filecollector.h"
#include "switching/filereader.h"
#include "switching/fileswitch.h"
#include "switching/journal.h"
#include "switching/precheck.h"
#include "switching/replacement.h"
#include "ui/mainwindowform.h"

#include <QCheckBox>
#include <QCoreApplication>
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

} // namespace

void MainWindow::runSwitch()
{
    if (m_switchRunning)
        return;
    const RunGuard guard(m_switchRunning, form->pushButton);

    if (!loadSettings())
        return;

    // The new environment is recorded in config.ini before any file is switched. When that file
    // could not be rewritten without losing some of its bytes, switching the files would leave
    // the tree in one environment and config.ini naming the other: nothing is done.
    if (m_configSafety != TextSafety::Rewritable) {
        showCriticalBox(this, windowTitle(),
                        tr("L'environnement ne peut pas être enregistré dans le fichier ")
                                + QCoreApplication::applicationDirPath()
                                + tr("/config.ini : il contient des octets nuls ou du texte qui "
                                     "n'est pas en UTF-8. Aucun fichier n'a été modifié."));
        return;
    }

    const QString filterText = form->leFilterFiles->text();
    foundFiles.clear();
    QStringList unreadableDirectories;
    collectFiles(mainDir, foundFiles, recurseSubdirs, filterText, &unreadableDirectories);

    const bool fromProduction = prodActive;
    prodActive = !prodActive;

    const QStringList envFrom{ fromProduction ? QStringLiteral("Environnement=prod")
                                              : QStringLiteral("Environnement=dev") };
    const QStringList envTo{ fromProduction ? QStringLiteral("Environnement=dev")
                                            : QStringLiteral("Environnement=prod") };
    const QString configPath = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    // A config.ini that cannot be written would name the old environment over a switched tree:
    // its box has said so, and nothing is switched.
    if (!replaceValuesInFile(envFrom, envTo, configPath, form->cbSensitive->isChecked(),
                             form->teJournal)) {
        prodActive = fromProduction;
        return;
    }

    // The values of the run, ready for the search in each file, for either state of
    // "Sensible à la case", which the user may change while the run lets events through.
    const QStringList &fromValues = fromProduction ? prodValues : devValues;
    const QStringList &toValues = fromProduction ? devValues : prodValues;
    std::optional<SwitchValues> valuesBySensitivity[2];
    auto values = [&](bool caseSensitive) -> const SwitchValues & {
        std::optional<SwitchValues> &slot = valuesBySensitivity[caseSensitive ? 1 : 0];
        if (!slot)
            slot.emplace(fromValues, toValues, caseSensitive);
        return *slot;
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

    Journal journal(form->teJournal);
    // A folder that could not be listed is said before the files: its files keep their values.
    for (const QString &directory : std::as_const(unreadableDirectories))
        recordUnreadableDirectory(directory, journal);
    form->progressBar->show();
    form->progressBar->setRange(0, static_cast<int>(foundFiles.size()));
    const QStringList files = foundFiles;
    int counter = 0;
    for (const QString &path : files) {
        ++counter;
        if (counter % 10 == 0) {
            journal.flush();
            form->progressBar->setValue(counter);
            QCoreApplication::processEvents();
        }
        QString identity = fileIdentity(path);
        if (handled.contains(identity))
            continue;
        // Each file is read once, for the check and for the replacement.
        const std::optional<QByteArray> bytes = readFileToCheck(path, &journal);
        // Known by what the path leads to once done: a rewritten file is a new file in the
        // folder. Another hard link to the file as it was keeps the old content and is switched
        // in turn.
        if (bytes && bytesHoldAnyValue(*bytes, values(form->cbSensitive->isChecked()))
            && replaceValuesInBytes(*bytes, values(form->cbSensitive->isChecked()), path, journal))
            identity = fileIdentity(path);
        if (!identity.isEmpty())
            handled.insert(identity);
    }
    journal.flush();

    showEnvironment();
    form->progressBar->hide();
}
