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
#include <QLineEdit>
#include <QStatusBar>

namespace {

// Reads the lines of a settings file; false when it cannot be opened or read to its end.
bool readSettingsLines(const QString &path, QStringList &lines, TextSafety *safety = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    const DecodedText decoded = decodeText(bytes);
    lines = splitLines(decoded.text);
    if (safety)
        *safety = decoded.safety;
    return true;
}

} // namespace

bool MainWindow::loadSettings()
{
    const QString configPath = QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
    if (!checkFileExists(configPath))
        return false;
    QStringList lines;
    if (!readSettingsLines(configPath, lines, &m_configSafety)) {
        showCriticalBox(this, windowTitle(), tr("impossible d'ouvrir le fichier ") + configPath);
        return false;
    }

    ConfigSettings settings;
    settings.mainDir = mainDir;
    settings.filesFilter = filesFilter;
    const ConfigStatus status = readConfigLines(lines, settings);
    for (const QString &environment : std::as_const(settings.environmentLines))
        qDebug().noquote() << "Environnement=" + environment;

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

    ValuePairs pairs = readValueLines(lines);
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
    return true;
}
