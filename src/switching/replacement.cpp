#include "switching/replacement.h"

#include "config/messageboxes.h"
#include "switching/linereplacer.h"
#include "switching/textfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// The new file is created by this process; when it may (run by root), it gives it the owner and
// group of the file it replaces, so that a service that reads the file still can.
void keepOwner(const QString &filePath, int handle)
{
#ifdef Q_OS_UNIX
    struct stat original {};
    struct stat replacement {};
    if (::stat(QFile::encodeName(filePath).constData(), &original) != 0
        || ::fstat(handle, &replacement) != 0)
        return;
    if (original.st_uid == replacement.st_uid && original.st_gid == replacement.st_gid)
        return;
    if (::fchown(handle, original.st_uid, original.st_gid) == 0)
        ::fchmod(handle, original.st_mode & 07777); // a change of owner clears set-id bits
#else
    Q_UNUSED(filePath);
    Q_UNUSED(handle);
#endif
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
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (written)
        keepOwner(filePath, file.handle());
    if (!written || !file.commit()) {
        file.cancelWriting();
        showWriteFailure(filePath);
        return false;
    }
    return true;
}
