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

// A rewrite of a file: the new content goes to a temporary file beside it, which replaces it only
// once every byte is on disk.
class Rewrite
{
public:
    explicit Rewrite(const QString &filePath) : m_path(filePath), m_file(filePath) { }

    // Adds to the new content. After a failure, what follows is dropped.
    void write(QByteArrayView bytes)
    {
        if (!m_started)
            start();
        if (!m_failed && m_file.write(bytes.data(), bytes.size()) != bytes.size())
            m_failed = true;
    }

    // Puts the new content in place of the file. On failure the file keeps its previous bytes
    // and a message box says so.
    bool commit(Journal *journal)
    {
        if (!m_started)
            start(); // an empty content
        // QSaveFile::commit() (Qt 6.4) does not notice when the last flush of its buffer fails,
        // for instance on a disk that fills up: it would put a truncated copy in place of the
        // file. Flushing here first makes that failure seen.
        if (!m_failed && !m_file.flush())
            m_failed = true;
        if (!m_failed)
            keepOwner(m_path, m_file.handle());
        if (m_failed || !m_file.commit()) {
            if (m_file.isOpen())
                m_file.cancelWriting();
            showWriteFailure(m_path, journal);
            return false;
        }
        return true;
    }

private:
    void start()
    {
        m_started = true;
        // A file that cannot be opened for writing (read-only) stays as it is, although the
        // replacement would be allowed to put a new file in its place.
        if (QFile::exists(m_path)) {
            QFile probe(m_path);
            if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
                m_failed = true;
                return;
            }
        }
        if (!m_file.open(QIODevice::WriteOnly))
            m_failed = true;
    }

    QString m_path;
    QSaveFile m_file;
    bool m_started = false;
    bool m_failed = false;
};

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

    // The new content is written as it is made, so that a large file is not held twice.
    Rewrite rewrite(filePath);
    const SwitchedFile switched = switchFileBytes(
            bytes, values,
            [&](const LineRecord &record) { appendRecord(journal, displayPath, record); },
            [&](QByteArrayView piece) { rewrite.write(piece); });
    if (switched.safety != TextSafety::Rewritable) {
        if (switched.holdsValue) {
            journal.appendHtml(header("red", tr("Fichier non modifié : "), displayPath));
            journal.appendPlainText(textSafetyReason(switched.safety));
        }
        return false;
    }
    return rewrite.commit(&journal);
}

bool writeLinesToFile(const QString &filePath, const QStringList &lines)
{
    Rewrite rewrite(filePath);
    rewrite.write(encodeLines(lines));
    return rewrite.commit(nullptr);
}

void recordUnreadableDirectory(const QString &directory, Journal &journal)
{
    QString displayPath = directory;
    displayPath.replace(u'/', u'\\');
    journal.appendHtml(header("red", tr("Dossier non parcouru : "), displayPath));
    journal.appendPlainText(
            tr("Dossier illisible : les fichiers qu'il contient n'ont pas été échangés."));
}
