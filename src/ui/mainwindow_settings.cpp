// Loading config.ini and values.ini into the main window's state: the outcome of the load,
// phrased in the boxes the user sees.

#include "ui/mainwindow.h"

#include "config/gui/messageboxes.h"
#include "config/gui/presencechecks.h"
#include "config/settingsload.h"
#include "ui/mainwindowform.h"
#include "ui/offthewindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QStatusBar>

bool MainWindow::loadSettings()
{
    using Fault = SettingsLoad::Fault;
    const QString folder = QCoreApplication::applicationDirPath();
    // Read off the window's thread once the window shows (config.ini and values.ini may lie on a
    // file share); at start-up, before it shows, as it is built.
    const SettingsInForce inForce{ mainDir, filesFilter, form->leFilterFiles->text() };
    SettingsLoad load = isVisible()
            ? offTheWindow([&] { return loadSettingsFiles(folder, inForce); })
            : loadSettingsFiles(folder, inForce);
    switch (load.fault) {
    case Fault::ConfigMissing:
        showMissingFileBox(load.configPath);
        return false;
    case Fault::ConfigUnreadable:
        showCriticalBox(this, windowTitle(),
                        tr("impossible d'ouvrir le fichier ") + load.configPath);
        return false;
    default:
        break;
    }

    // What the lines read so far said stays in force, also when a later line is refused.
    mainDir = load.config.mainDir;
    filesFilter = load.config.filesFilter;
    if (load.config.prodActive)
        prodActive = *load.config.prodActive;
    if (load.config.linesRead > 0)
        recurseSubdirs = form->cbSubdirs->isChecked();

    if (load.fault == Fault::BadEnvironment) {
        showCriticalBox(this, windowTitle(),
                        tr("Valeur Environnement= dans le fichier ") + folder
                                + tr("/config.ini incorrecte"));
        return false;
    }
    if (load.fault == Fault::BadMainDir) {
        if (load.mainDirMissing)
            showMissingFolderBox(mainDir);
        showCriticalBox(this, windowTitle(),
                        tr("Valeur MainDir= dans le fichier ") + folder
                                + tr("/config.ini incorrecte"));
        return false;
    }

    if (form->leFilterFiles->text().isEmpty())
        form->leFilterFiles->setText(load.filesFilter);
    filesFilter = load.filesFilter;
    statusBar()->showMessage(tr("Dossier de recherche : ") + mainDir, 0);

    switch (load.fault) {
    case Fault::ValuesMissing:
        showMissingFileBox(load.valuesPath);
        return false;
    case Fault::ValuesUnreadable:
        showCriticalBox(this, windowTitle(),
                        tr("impossible d'ouvrir le fichier ") + load.valuesPath);
        return false;
    default:
        break;
    }
    prodValues = std::move(load.values.prodValues);
    devValues = std::move(load.values.devValues);
    if (load.fault == Fault::ValuesIncomplete) {
        showCriticalBox(this, windowTitle(),
                        tr("Les valeurs dans le fichier ") + folder.toHtmlEscaped()
                                + tr("/values.ini sont incorrectes.<br />Vérifier leur présence ou "
                                     "leur parité."),
                        Qt::RichText);
        return false;
    }
    if (load.fault == Fault::ValuesNotClean) {
        showCriticalBox(this, windowTitle(),
                        tr("Les valeurs dans le fichier ") + folder
                                + tr("/values.ini ne peuvent pas être utilisées : la ligne %1 "
                                     "contient des octets nuls ou des caractères mal encodés. "
                                     "Aucun fichier n'a été modifié.")
                                          .arg(load.badLine));
        return false;
    }
    return true;
}
