#include "switching/precheck.h"

#include "config/messageboxes.h"
#include "config/presencechecks.h"
#include "switching/linereplacer.h"
#include "switching/textfile.h"

#include <QCoreApplication>
#include <QFile>

bool fileHoldsAnyValue(const QStringList &fromValues, const QString &filePath, bool caseSensitive)
{
    if (!checkFileExists(filePath)) {
        showWarningBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier non trouvé"),
                       QCoreApplication::translate("MainWindow", "Le fichier ") + filePath
                               + QCoreApplication::translate("MainWindow", " n'existe pas."));
        return false;
    }

    QFile file(filePath);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        showCriticalBox(nullptr, QCoreApplication::translate("MainWindow", "Fichier illisible"),
                        QCoreApplication::translate("MainWindow", "impossible d'ouvrir le fichier ")
                                + filePath + u'.');
        return false;
    }
    file.close();

    const QStringList lines = splitLines(decodeText(bytes).text);
    for (const QString &line : lines) {
        if (lineHoldsAnyValue(line, fromValues, caseSensitive))
            return true;
    }
    return false;
}
