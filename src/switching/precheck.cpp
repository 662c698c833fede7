#include "switching/precheck.h"

#include "config/messageboxes.h"
#include "config/presencechecks.h"
#include "switching/fileswitch.h"
#include "switching/journal.h"

#include <QCoreApplication>
#include <QFile>

std::optional<QByteArray> readFileToCheck(const QString &filePath, Journal *journal)
{
    if (!QFile::exists(filePath)) {
        if (journal)
            journal->flush();
    }
    if (!checkFileExists(filePath)) {
        showWarningBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier non trouvé"),
                       QCoreApplication::translate("MainWindow", "Le fichier ") + filePath
                               + QCoreApplication::translate("MainWindow", " n'existe pas."));
        return std::nullopt;
    }

    QFile file(filePath);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        if (journal)
            journal->flush();
        showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier illisible"),
                        QCoreApplication::translate("MainWindow", "impossible d'ouvrir le fichier ")
                                + filePath + u'.');
        return std::nullopt;
    }
    return bytes;
}

bool fileHoldsAnyValue(const QStringList &fromValues, const QString &filePath, bool caseSensitive)
{
    const std::optional<QByteArray> bytes = readFileToCheck(filePath, nullptr);
    return bytes && bytesHoldAnyValue(*bytes, SwitchValues(fromValues, {}, caseSensitive));
}
