// Loading config.ini and values.ini into the main window's state.

#include "ui/mainwindow.h"

#include "config/messageboxes.h"
#include "config/presencechecks.h"
#include "config/settingsgrammar.h"
#include "switching/textfile.h"
#include "ui/mainwindowform.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QStatusBar>

namespace {

// Reads the lines of a settings file; false when it cannot be opened or read to its end. The
// file is read in binary: a line ends at a line feed only, a lone carriage return is text.
bool readSettingsLines(const QString &path, TextLines &lines)
{
    // Only a regular file (or a link to one): a FIFO would block the program, a link to a device
    // such as /dev/zero would never end.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    lines = decodeLines(bytes);
    return true;
}

} // namespace

bool MainWindow::loadSettings()
{
    const QString configPath = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    if (!checkFileExists(configPath))
        return false;
    TextLines lines;
    if (!readSettingsLines(configPath, lines)) {
        showCriticalBox(this, windowTitle(), tr("impossible d'ouvrir le fichier ") + configPath);
        return false;
    }

    ConfigSettings settings;
    settings.mainDir = mainDir;
    settings.filesFilter = filesFilter;
    // Whatever bytes its other lines hold: only the keys count, and they are ASCII.
    const ConfigStatus status = readConfigLines(lines.lines, settings);
    for (const QString &environment : std::as_const(settings.environmentLines))
        qDebug().noquote() << "Environnement=" + readableText(environment);

    // What the lines read so far said stays in force, also when a later line is refused.
    mainDir = settings.mainDir;
    filesFilter = settings.filesFilter;
    if (settings.prodActive)
        prodActive = *settings.prodActive;
    if (settings.linesRead > 0)
        recurseSubdirs = form->cbSubdirs->isChecked();

    if (status == ConfigStatus::BadEnvironment) {
        showCriticalBox(this, windowTitle(),
                        tr("Valeur Environnement= dans le fichier ")
                                + QCoreApplication::applicationDirPath()
                                + tr("/config.ini incorrecte"));
        return false;
    }
    if (mainDir.isEmpty() || !checkDirectory(mainDir)) {
        showCriticalBox(this, windowTitle(),
                        tr("Valeur MainDir= dans le fichier ")
                                + QCoreApplication::applicationDirPath()
                                + tr("/config.ini incorrecte"));
        return false;
    }

    // What the user typed in the filter field outranks FilesFilter=.
    if (!form->leFilterFiles->text().isEmpty()) {
        filesFilter = form->leFilterFiles->text();
    } else {
        if (filesFilter.isEmpty())
            filesFilter = defaultFilesFilter.toString();
        form->leFilterFiles->setText(filesFilter);
    }

    statusBar()->showMessage(tr("Dossier de recherche : ") + mainDir, 0);

    const QString valuesPath = QCoreApplication::applicationDirPath() + QStringLiteral("/values.ini");
    if (!checkFileExists(valuesPath))
        return false;
    if (!readSettingsLines(valuesPath, lines)) {
        showCriticalBox(this, windowTitle(), tr("impossible d'ouvrir le fichier ") + valuesPath);
        return false;
    }

    ValuePairs pairs = readValueLines(lines.lines);
    const bool complete = pairs.isComplete();
    prodValues = std::move(pairs.prodValues);
    devValues = std::move(pairs.devValues);
    if (!complete) {
        showCriticalBox(this, windowTitle(),
                        tr("Les valeurs dans le fichier ")
                                + QCoreApplication::applicationDirPath().toHtmlEscaped()
                                + tr("/values.ini sont incorrectes.<br />Vérifier leur présence ou "
                                     "leur parité."),
                        Qt::RichText);
        return false;
    }
    // Values read from NUL bytes or from bytes that are not valid in the file's encoding would be
    // written into the files of the tree as NUL characters, or as bytes other than those the
    // user meant: the text would be lost, and a file holding a NUL is never rewritten again, not
    // even to switch it back. Other lines (comments) may hold anything.
    for (qsizetype i = 0; i < lines.lines.size(); ++i) {
        if (lines.clean.at(i) || !givesValue(lines.lines.at(i)))
            continue;
        showCriticalBox(this, windowTitle(),
                        tr("Les valeurs dans le fichier ")
                                + QCoreApplication::applicationDirPath()
                                + tr("/values.ini ne peuvent pas être utilisées : la ligne %1 "
                                     "contient des octets nuls ou des caractères mal encodés. "
                                     "Aucun fichier n'a été modifié.")
                                          .arg(i + 1));
        return false;
    }
    return true;
}
