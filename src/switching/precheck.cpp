#include "switching/precheck.h"

#include "config/messageboxes.h"
#include "config/presencechecks.h"
#include "switching/filereader.h"
#include "switching/fileswitch.h"
#include "switching/journal.h"

#include <QCoreApplication>
#include <QFile>

std::optional<QByteArray> readFileToCheck(const QString &filePath, Journal *journal,
                                          bool *unreadable)
{
    if (unreadable)
        *unreadable = false;
    // Opened first: whether a file that cannot be opened exists at all is asked only then.
    QByteArray bytes;
    if (readWholeFile(filePath, bytes))
        return bytes;

    if (journal)
        journal->flush();
    // A path longer than the system takes cannot be opened, nor asked whether it exists: the
    // file is there (the walk found it), only out of reach.
    if (isPathTooLong(filePath)) {
        if (unreadable)
            *unreadable = true;
        showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier illisible"),
                        QCoreApplication::translate("MainWindow", "impossible d'ouvrir le fichier ")
                                + filePath + u'.');
        return std::nullopt;
    }
    if (!checkFileExists(filePath)) {
        showWarningBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier non trouvé"),
                       QCoreApplication::translate("MainWindow", "Le fichier ") + filePath
                               + QCoreApplication::translate("MainWindow", " n'existe pas."));
    } else {
        if (unreadable)
            *unreadable = true;
        showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier illisible"),
                        QCoreApplication::translate("MainWindow", "impossible d'ouvrir le fichier ")
                                + filePath + u'.');
    }
    return std::nullopt;
}

bool fileHoldsAnyValue(const QStringList &fromValues, const QString &filePath, bool caseSensitive)
{
    const std::optional<QByteArray> bytes = readFileToCheck(filePath, nullptr);
    return bytes && bytesHoldAnyValue(*bytes, SwitchValues(fromValues, {}, caseSensitive));
}
