#include "config/presencechecks.h"

#include "config/messageboxes.h"
#include "switching/textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

bool checkFileExists(const QString &path)
{
    if (QFile::exists(path))
        return true;
    showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Erreur"),
                    QCoreApplication::translate("MainWindow", "Impossible d'ouvrir le fichier ")
                            + path);
    return false;
}

bool checkDirectory(const QString &path)
{
    if (QDir(path).exists())
        return true;
    showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Erreur"),
                    QCoreApplication::translate("MainWindow", "Impossible d'ouvrir le dossier ")
                            + readableText(path));
    return false;
}
