#include "switching/replacement.h"

#include "config/messageboxes.h"
#include "switching/filereader.h"
#include "switching/fileswitch.h"
#include "switching/journal.h"
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

void appendRecord(Journal &journal, const QString &displayPath, const LineRecord &record)
{
    if (record.kind == LineRecord::Kind::Modified) {
        journal.appendHtml(header("green", tr("Fichier modifié : "), displayPath));
        journal.appendPlainText(tr("Avant : ") + record.before);
        journal.appendPlainText(tr("Après : ") + record.after);
    } else {
        journal.appendHtml(header("red", tr("Fichier non modifié : "), displayPath));
        journal.appendPlainText(tr("Chaine ") + record.before
                                + tr(" non identifiée bien que présente."));
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

void showWriteFailure(const QString &filePath, Journal *journal)
{
    if (journal)
        journal->flush();
    showCriticalBox(nullptr, tr("Erreur"),
                    tr("Modification non prise en compte, vérifier l'accès au fichier ")
                            + filePath);
}

// Writes bytes through a temporary file beside the original, which replaces it only once every
// byte is on disk.
bool writeBytesToFile(const QString &filePath, const QByteArray &bytes, Journal *journal)
{
    // A file that cannot be opened for writing (read-only) stays as it is, although the
    // replacement below would be allowed to put a new file in its place.
    if (QFile::exists(filePath)) {
        QFile probe(filePath);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            showWriteFailure(filePath, journal);
            return false;
        }
    }

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        showWriteFailure(filePath, journal);
        return false;
    }
    // QSaveFile::commit() (Qt 6.4) does not notice when the last flush of its buffer fails, for
    // instance on a disk that fills up: it would put a truncated copy in place of the file.
    // Flushing here first makes that failure seen.
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    if (written)
        keepOwner(filePath, file.handle());
    if (!written || !file.commit()) {
        file.cancelWriting();
        showWriteFailure(filePath, journal);
        return false;
    }
    return true;
}

} // namespace

bool replaceValuesInFile(const QStringList &fromValues, const QStringList &toValues,
                         const QString &filePath, bool caseSensitive, QPlainTextEdit *journal)
{
    // A read that stopped half-way must not be written back as if it were the whole file.
    QByteArray bytes;
    if (!readWholeFile(filePath, bytes)) {
        showCriticalBox(nullptr, tr("Erreur"), tr("Impossible d'ouvrir le fichier ") + filePath);
        return false;
    }

    Journal records(journal);
    return replaceValuesInBytes(bytes, SwitchValues(fromValues, toValues, caseSensitive), filePath,
                                records);
}

bool replaceValuesInBytes(const QByteArray &bytes, const SwitchValues &values,
                          const QString &filePath, Journal &journal)
{
    QString displayPath = filePath;
    displayPath.replace(u'/', u'\\');

    const SwitchedFile switched = switchFileBytes(bytes, values, [&](const LineRecord &record) {
        appendRecord(journal, displayPath, record);
    });
    if (switched.safety != TextSafety::Rewritable) {
        if (switched.holdsValue) {
            journal.appendHtml(header("red", tr("Fichier non modifié : "), displayPath));
            journal.appendPlainText(textSafetyReason(switched.safety));
        }
        return false;
    }
    return writeBytesToFile(filePath, switched.bytes, &journal);
}

bool writeLinesToFile(const QString &filePath, const QStringList &lines)
{
    return writeBytesToFile(filePath, encodeLines(lines), nullptr);
}
