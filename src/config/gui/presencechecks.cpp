#include "config/gui/presencechecks.h"

#include "config/gui/messageboxes.h"
#include "text/textformat.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

void showMissingFileBox(const QString &path)
{
    showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Erreur"),
                    QCoreApplication::translate("MainWindow", "Impossible d'ouvrir le fichier ")
                            + path);
}

void showMissingFolderBox(const QString &path)
{
    showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Erreur"),
                    QCoreApplication::translate("MainWindow", "Impossible d'ouvrir le dossier ")
                            + readableText(path));
}

bool checkFileExists(const QString &path)
{
    if (QFile::exists(path))
        return true;
    showMissingFileBox(path);
    return false;
}

bool checkDirectory(const QString &path)
{
    if (QDir(path).exists())
        return true;
    showMissingFolderBox(path);
    return false;
}
