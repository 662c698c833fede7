#include "switching/gui/precheck.h"

#include "config/gui/messageboxes.h"
#include "config/gui/presencechecks.h"
#include "files/filesystem.h"
#include "switching/fileswitch.h"
#include "switching/gui/journal.h"

#include <QCoreApplication>

void showReadFailure(const QString &filePath, bool missing)
{
    if (missing) {
        showMissingFileBox(filePath);
        showWarningBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier non trouvé"),
                       QCoreApplication::translate("MainWindow", "Le fichier ") + filePath
                               + QCoreApplication::translate("MainWindow", " n'existe pas."));
    } else {
        showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier illisible"),
                        QCoreApplication::translate("MainWindow", "impossible d'ouvrir le fichier ")
                                + filePath + u'.');
    }
}

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
    const bool missing = isMissingFile(filePath);
    if (unreadable)
        *unreadable = !missing;
    showReadFailure(filePath, missing);
    return std::nullopt;
}

bool fileHoldsAnyValue(const QStringList &fromValues, const QString &filePath, bool caseSensitive)
{
    const std::optional<QByteArray> bytes = readFileToCheck(filePath, nullptr);
    return bytes && bytesHoldAnyValue(*bytes, SwitchValues(fromValues, {}, caseSensitive));
}
