#include "switching/replacement.h"

#include "config/messageboxes.h"
#include "switching/linereplacer.h"
#include "switching/textfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString header(const char *colour, const QString &label, const QString &displayPath)
{
    return QStringLiteral("<font color=\"%1\">%2<b>%3</b></font>")
            .arg(QLatin1String(colour), label, displayPath.toHtmlEscaped());
}

void appendRecords(QPlainTextEdit *journal, const QString &displayPath,
                   const QList<LineRecord> &records)
{
    for (const LineRecord &record : records) {
        if (record.kind == LineRecord::Kind::Modified) {
            journal->appendHtml(header("green", tr("Fichier modifié : "), displayPath));
            journal->appendPlainText(tr("Avant : ") + record.before);
            journal->appendPlainText(tr("Après : ") + record.after);
        } else {
            journal->appendHtml(header("red", tr("Fichier non modifié : "), displayPath));
            journal->appendPlainText(tr("Chaine ") + record.before
                                     + tr(" non identifiée bien que présente."));
        }
    }
}

void showWriteFailure(const QString &filePath)
{
    showCriticalBox(nullptr, tr("Erreur"),
                    tr("Modification non prise en compte, vérifier l'accès au fichier ")
                            + filePath);
}

} // namespace

bool replaceValuesInFile(const QStringList &fromValues, const QStringList &toValues,
                         const QString &filePath, bool caseSensitive, QPlainTextEdit *journal)
{
    QFile file(filePath);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    // A read that stopped half-way must not be written back as if it were the whole file.
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        showCriticalBox(nullptr, tr("Erreur"), tr("Impossible d'ouvrir le fichier ") + filePath);
        return false;
    }
    file.close();

    QString displayPath = filePath;
    displayPath.replace(u'/', u'\\');

    const DecodedText decoded = decodeText(bytes);
    QStringList lines = splitLines(decoded.text);

    if (decoded.safety != TextSafety::Rewritable) {
        bool holdsValue = false;
        for (const QString &line : std::as_const(lines)) {
            if (lineHoldsAnyValue(line, fromValues, caseSensitive)) {
                holdsValue = true;
                break;
            }
        }
        if (holdsValue && journal) {
            journal->appendHtml(header("red", tr("Fichier non modifié : "), displayPath));
            journal->appendPlainText(textSafetyReason(decoded.safety));
        }
        return false;
    }

    QList<LineRecord> records;
    for (QString &line : lines) {
        records.clear();
        line = replaceValuesInLine(line, fromValues, toValues, caseSensitive, &records);
        if (journal)
            appendRecords(journal, displayPath, records);
    }
    return writeLinesToFile(filePath, lines);
}

bool writeLinesToFile(const QString &filePath, const QStringList &lines)
{
    // A file that cannot be opened for writing (read-only) stays as it is, although the
    // replacement below would be allowed to put a new file in its place.
    if (QFile::exists(filePath)) {
        QFile probe(filePath);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            showWriteFailure(filePath);
            return false;
        }
    }

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        showWriteFailure(filePath);
        return false;
    }
    const QByteArray bytes = encodeLines(lines);
    // QSaveFile::commit() (Qt 6.4) does not notice when the last flush of its buffer fails, for
    // instance on a disk that fills up: it would put a truncated copy in place of the file.
    // Flushing here first makes that failure seen.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        file.cancelWriting();
        showWriteFailure(filePath);
        return false;
    }
    return true;
}
