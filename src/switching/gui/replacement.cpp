#include "switching/gui/replacement.h"

#include "config/gui/messageboxes.h"
#include "config/gui/presencechecks.h"
#include "switching/gui/journal.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

// Paths are shown in the journal with "\" between their parts.
QString displayedPath(QString path)
{
    path.replace(u'/', u'\\');
    return path;
}

// A red "Fichier non modifié" header and the reason why.
void recordNotModified(const QString &filePath, const QString &reason, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red,
                         QCoreApplication::translate("MainWindow", "Fichier non modifié : "),
                         displayedPath(filePath));
    journal.appendPlainText(reason);
}

} // namespace

void recordLine(const QString &filePath, const LineRecord &record, Journal &journal)
{
    if (record.kind == LineRecord::Kind::Modified) {
        journal.appendHeader(Journal::Colour::Green,
                             QCoreApplication::translate("MainWindow", "Fichier modifié : "),
                             displayedPath(filePath));
        journal.appendPlainText(QCoreApplication::translate("MainWindow", "Avant : ")
                                + readableText(record.before));
        journal.appendPlainText(QCoreApplication::translate("MainWindow", "Après : ")
                                + readableText(record.after));
    } else {
        journal.appendHeader(Journal::Colour::Red,
                             QCoreApplication::translate("MainWindow", "Fichier non modifié : "),
                             displayedPath(filePath));
        journal.appendPlainText(
                QCoreApplication::translate("MainWindow", "Chaine ") + record.before
                + QCoreApplication::translate("MainWindow", " non identifiée bien que présente."));
    }
}

void recordLeftIntact(const QString &filePath, TextSafety safety, Journal &journal)
{
    recordNotModified(filePath, textSafetyReason(safety), journal);
}

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

void showWriteFailure(const QString &filePath, const WriteResult &write)
{
    qWarning().noquote() << "Rewrite of" << filePath << "failed:" << write.reason();
    showCriticalBox(
            nullptr, QCoreApplication::translate("MainWindow", "Erreur"),
            QCoreApplication::translate(
                    "MainWindow", "Modification non prise en compte, vérifier l'accès au fichier ")
                    + filePath);
}

void recordUnreadableDirectory(const QString &directory, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red,
                         QCoreApplication::translate("MainWindow", "Dossier non parcouru : "),
                         displayedPath(directory));
    journal.appendPlainText(QCoreApplication::translate(
            "MainWindow",
            "Dossier illisible : les fichiers qu'il contient n'ont pas été échangés."));
}

void recordUnreadableFile(const QString &filePath, Journal &journal)
{
    recordNotModified(
            filePath,
            QCoreApplication::translate("MainWindow",
                                        "Fichier illisible : ses valeurs n'ont pas été échangées."),
            journal);
}

void recordFailedWrite(const QString &filePath, Journal &journal)
{
    recordNotModified(filePath,
                      QCoreApplication::translate("MainWindow",
                                                  "Écriture impossible : le fichier garde son "
                                                  "contenu d'avant l'échange."),
                      journal);
}

void recordPairLeftAside(const QString &prodValue, const QString &devValue, Journal &journal)
{
    journal.appendHeader(
            Journal::Colour::Red,
            QCoreApplication::translate("MainWindow", "Paire de valeurs non utilisée : "),
            QStringLiteral("prodVal=") + prodValue + QStringLiteral(" / devVal=") + devValue);
    journal.appendPlainText(
            QCoreApplication::translate("MainWindow",
                                        "Une des deux valeurs est vide : l'échange de cette "
                                        "paire ne pourrait pas être défait par l'échange "
                                        "inverse."));
}

void recordChangedDuringRun(const QString &filePath, Journal &journal)
{
    recordNotModified(filePath,
                      QCoreApplication::translate("MainWindow",
                                                  "Fichier changé pendant l'échange : il garde son "
                                                  "contenu, ses valeurs n'ont pas été échangées."),
                      journal);
}

void recordNotPlaced(const QString &filePath, Journal &journal)
{
    recordNotModified(filePath,
                      QCoreApplication::translate(
                              "MainWindow",
                              "Mise en place impossible : sa nouvelle version est gardée à côté de "
                              "lui, le prochain échange ou le prochain démarrage la mettra en "
                              "place."),
                      journal);
}

void recordRunAbandoned(const QString &mainDir, bool fromProduction, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red,
                         QCoreApplication::translate("MainWindow", "Échange annulé : "),
                         displayedPath(mainDir));
    journal.appendPlainText(
            fromProduction ? QCoreApplication::translate(
                    "MainWindow",
                    "Aucun fichier n'a été modifié, l'arborescence est restée en production.")
                           : QCoreApplication::translate("MainWindow",
                                                         "Aucun fichier n'a été modifié, "
                                                         "l'arborescence est restée en "
                                                         "développement."));
}

void recordInterruptedFile(const InterruptedRun::File &file, Journal &journal)
{
    switch (file.fate) {
    case InterruptedRun::Fate::Placed:
        journal.appendHeader(Journal::Colour::Green,
                             QCoreApplication::translate("MainWindow", "Fichier modifié : "),
                             displayedPath(file.path));
        journal.appendPlainText(QCoreApplication::translate(
                "MainWindow", "Échange interrompu : sa nouvelle version a été mise en place."));
        return;
    case InterruptedRun::Fate::Changed:
        recordNotModified(file.path,
                          QCoreApplication::translate(
                                  "MainWindow",
                                  "Échange interrompu : le fichier a changé depuis, il garde son "
                                  "contenu et sa nouvelle version a été supprimée."),
                          journal);
        return;
    case InterruptedRun::Fate::Removed:
        recordNotModified(
                file.path,
                QCoreApplication::translate("MainWindow",
                                            "Échange interrompu avant l'enregistrement du nouvel "
                                            "environnement : sa nouvelle version a été supprimée."),
                journal);
        return;
    case InterruptedRun::Fate::Gone:
        recordNotModified(file.path,
                          QCoreApplication::translate(
                                  "MainWindow",
                                  "Échange interrompu : le fichier a été supprimé ou renommé "
                                  "depuis, sa nouvelle version a été supprimée."),
                          journal);
        return;
    case InterruptedRun::Fate::NotPlaced:
        qWarning().noquote() << "Interrupted switch of" << file.path
                             << "not finished:" << file.write.reason();
        recordNotModified(file.path,
                          file.write.mayPass()
                                  ? QCoreApplication::translate(
                                          "MainWindow",
                                          "Échange interrompu : sa nouvelle version n'a pas pu "
                                          "être mise en place, le fichier garde son contenu "
                                          "d'avant l'échange ; elle est gardée pour le prochain "
                                          "échange.")
                                  : QCoreApplication::translate(
                                          "MainWindow",
                                          "Échange interrompu : sa nouvelle version n'a pas pu "
                                          "être mise en place, le fichier garde son contenu "
                                          "d'avant l'échange."),
                          journal);
        return;
    case InterruptedRun::Fate::NotSettled:
        qWarning().noquote() << "Interrupted switch of" << file.path
                             << "not settled:" << file.write.reason();
        recordNotModified(file.path,
                          QCoreApplication::translate(
                                  "MainWindow",
                                  "Échange interrompu : cette nouvelle version d'un fichier n'a pu "
                                  "être ni mise en place ni supprimée, elle reste à examiner."),
                          journal);
        return;
    }
}
