#include "switching/replacement.h"

#include "config/messageboxes.h"
#include "switching/environmentswitch.h"
#include "switching/filereader.h"
#include "switching/fileswitch.h"
#include "switching/journal.h"
#include "switching/textfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSaveFile>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// Paths are shown in the journal with "\" between their parts.
QString displayedPath(QString path)
{
    path.replace(u'/', u'\\');
    return path;
}

void appendRecord(Journal &journal, const QString &displayPath, const LineRecord &record)
{
    if (record.kind == LineRecord::Kind::Modified) {
        journal.appendHeader(Journal::Colour::Green, tr("Fichier modifié : "), displayPath);
        journal.appendPlainText(tr("Avant : ") + readableText(record.before));
        journal.appendPlainText(tr("Après : ") + readableText(record.after));
    } else {
        journal.appendHeader(Journal::Colour::Red, tr("Fichier non modifié : "), displayPath);
        journal.appendPlainText(tr("Chaine ") + record.before
                                + tr(" non identifiée bien que présente."));
    }
}

// From this size on, a file is switched on another core while this thread puts its records into
// the journal: for a file of hundreds of thousands of records, the journal is most of the work.
constexpr qsizetype largeFile = qsizetype(4) << 20;

SwitchedFile switchAlongsideJournal(const QByteArray &bytes, const SwitchValues &values,
                                    const std::function<void(const LineRecord &)> &onRecord,
                                    const std::function<void(QByteArrayView)> &writer)
{
    constexpr qsizetype batchSize = 1024;
    constexpr qsizetype mostWaiting = 16 * batchSize; // keeps the memory they take bounded
    std::mutex mutex;
    std::condition_variable changed;
    QList<LineRecord> waiting;
    bool done = false;
    SwitchedFile result;
    std::thread worker([&] {
        QList<LineRecord> batch;
        const auto handOver = [&](bool last) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return waiting.size() < mostWaiting; });
            waiting += std::move(batch);
            batch.clear();
            done = last;
            lock.unlock();
            changed.notify_all();
        };
        result = switchFileBytes(
                bytes, values,
                [&](const LineRecord &record) {
                    batch.append(record);
                    if (batch.size() >= batchSize)
                        handOver(false);
                },
                writer);
        handOver(true);
    });
    QList<LineRecord> taken;
    for (bool finished = false; !finished;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return done || !waiting.isEmpty(); });
            taken.swap(waiting);
            finished = done;
        }
        changed.notify_all();
        for (const LineRecord &record : std::as_const(taken))
            onRecord(record);
        taken.clear();
    }
    worker.join();
    return result;
}

void showWriteFailure(const QString &filePath, Journal *journal)
{
    if (journal)
        journal->flush();
    showCriticalBox(nullptr, tr("Erreur"),
                    tr("Modification non prise en compte, vérifier l'accès au fichier ")
                            + filePath);
}

#ifdef Q_OS_UNIX

// A rewrite of a file: the new content goes to a temporary file beside it, which replaces it only
// once every byte is on disk.
//
// The temporary file has a short name of its own (".mirabex-XXXXXX") and is reached through the
// folder's descriptor: a file whose name is already 255 bytes long, or whose path is close to
// PATH_MAX, can be rewritten as well as any other. A link is followed to the file it names,
// which receives the new content; the link stays a link.
class Rewrite
{
public:
    explicit Rewrite(const QString &filePath) : m_path(filePath) { }
    ~Rewrite() { discard(); }
    Rewrite(const Rewrite &) = delete;
    Rewrite &operator=(const Rewrite &) = delete;

    // Adds to the new content. After a failure, what follows is dropped.
    void write(QByteArrayView bytes)
    {
        if (!m_started)
            start();
        const char *data = bytes.data();
        qsizetype left = bytes.size();
        while (!m_failed && left > 0) {
            const ssize_t written = ::write(m_fd, data, size_t(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                m_failed = true;
                break;
            }
            data += written;
            left -= written;
        }
    }

    // Puts the new content in place of the file. On failure the file keeps its previous bytes
    // and a message box says so.
    bool commit(Journal *journal)
    {
        if (!m_started)
            start(); // an empty content
        // Rights and owner first, so that they are on disk with the content.
        if (!m_failed && m_hadFile)
            keepOwnerAndMode();
        if (!m_failed && ::fsync(m_fd) != 0)
            m_failed = true;
        if (!m_failed) {
            const int closed = ::close(m_fd);
            m_fd = -1;
            if (closed != 0)
                m_failed = true;
        }
        if (!m_failed
            && ::renameat(m_folder, m_temporaryName.constData(), m_folder, m_name.constData())
                    != 0)
            m_failed = true;
        if (m_failed) {
            discard();
            showWriteFailure(m_path, journal);
            return false;
        }
        m_temporaryName.clear(); // in place: nothing to remove
        // The new name in the folder reaches the disk too. The file is in place whatever this
        // says: a failure here is no failure of the rewrite.
        ::fsync(m_folder);
        discard();
        return true;
    }

private:
    // The file that the path names, a link being followed to the file it names, as the system
    // does: in bytes (a name need not be UTF-8), and a relative target taken from the link's own
    // folder without tidying "..", which the system applies after following the links before it.
    // Empty when the links go on for too long.
    static QByteArray fileNamedBy(QByteArray path)
    {
        for (int depth = 0; depth < 40; ++depth) {
            struct stat status {};
            if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
                return path; // a file, or nothing yet: a link to nothing makes the file it names
            QByteArray target(qsizetype(status.st_size > 0 ? status.st_size : 256) + 1, '\0');
            const ssize_t size = ::readlink(path.constData(), target.data(), size_t(target.size()));
            if (size <= 0 || size >= target.size())
                return {};
            target.truncate(size);
            if (target.startsWith('/')) {
                path = target;
            } else {
                const qsizetype slash = path.lastIndexOf('/');
                path = slash < 0 ? target : path.left(slash + 1) + target;
            }
        }
        return {};
    }

    void start()
    {
        m_started = true;
        const QByteArray target = fileNamedBy(QFile::encodeName(m_path));
        if (target.isEmpty()) {
            m_failed = true;
            return;
        }
        const qsizetype slash = target.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".")
                                            : (slash == 0 ? QByteArray("/") : target.left(slash));
        m_name = slash < 0 ? target : target.sliced(slash + 1);
        m_folder = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_folder < 0) {
            m_failed = true;
            return;
        }
        m_hadFile = ::fstatat(m_folder, m_name.constData(), &m_original, 0) == 0;
        if (!m_hadFile && errno != ENOENT) {
            m_failed = true; // there may be a file there, out of reach: it is not replaced
            return;
        }
        // A file that cannot be opened for writing (read-only) stays as it is, although the
        // replacement would be allowed to put a new file in its place.
        if (m_hadFile) {
            const int probe = ::openat(m_folder, m_name.constData(), O_WRONLY | O_CLOEXEC);
            if (probe < 0) {
                m_failed = true;
                return;
            }
            ::close(probe);
        }
        // A new file gets the rights any new file of this process would get (umask, a folder's
        // default ACL); one that replaces a file gets that file's rights before it is in place.
        const mode_t mode = m_hadFile ? S_IRUSR | S_IWUSR : 0666;
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
            QByteArray name = temporaryFilePrefix;
            for (int i = 0; i < 6; ++i)
                name.append(letters[QRandomGenerator::global()->bounded(36)]);
            m_fd = ::openat(m_folder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            mode);
            if (m_fd >= 0)
                m_temporaryName = name;
            else if (errno != EEXIST)
                break;
        }
        if (m_fd < 0)
            m_failed = true;
    }

    // The new file gets the rights of the one it replaces and, as far as this process may, its
    // owner and group (all of them when run by root, the group when the user belongs to it), so
    // that the people and services that read or write the file still can. The set-id bits are
    // only kept with the owner and group they were given with.
    void keepOwnerAndMode()
    {
        struct stat replacement {};
        if (::fstat(m_fd, &replacement) != 0) {
            m_failed = true;
            return;
        }
        if (replacement.st_uid != m_original.st_uid || replacement.st_gid != m_original.st_gid) {
            // Failing both, the file is the user's own, with the group it gets.
            if (::fchown(m_fd, m_original.st_uid, m_original.st_gid) != 0
                && replacement.st_gid != m_original.st_gid)
                ::fchown(m_fd, uid_t(-1), m_original.st_gid);
            if (::fstat(m_fd, &replacement) != 0) {
                m_failed = true;
                return;
            }
        }
        mode_t mode = m_original.st_mode & 07777;
        if (replacement.st_uid != m_original.st_uid || replacement.st_gid != m_original.st_gid)
            mode &= ~mode_t(S_ISUID | S_ISGID);
        if (::fchmod(m_fd, mode) != 0)
            m_failed = true;
    }

    void discard()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (!m_temporaryName.isEmpty() && m_folder >= 0) {
            ::unlinkat(m_folder, m_temporaryName.constData(), 0);
            m_temporaryName.clear();
        }
        if (m_folder >= 0) {
            ::close(m_folder);
            m_folder = -1;
        }
    }

    QString m_path;
    QByteArray m_name;          // of the file to replace, in its folder
    QByteArray m_temporaryName; // while the temporary file exists
    int m_folder = -1;
    int m_fd = -1;
    struct stat m_original {};
    bool m_hadFile = false;
    bool m_started = false;
    bool m_failed = false;
};

#else

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

#endif

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
                                records)
            == FileOutcome::Switched;
}

FileOutcome replaceValuesInBytes(const QByteArray &bytes, const SwitchValues &values,
                                 const QString &filePath, Journal &journal)
{
    const QString displayPath = displayedPath(filePath);

    // The new content is written as it is made, so that a large file is not held twice.
    Rewrite rewrite(filePath);
    const auto onRecord = [&](const LineRecord &record) {
        appendRecord(journal, displayPath, record);
    };
    const auto writer = [&](QByteArrayView piece) { rewrite.write(piece); };
    const SwitchedFile switched = bytes.size() >= largeFile
            ? switchAlongsideJournal(bytes, values, onRecord, writer)
            : switchFileBytes(bytes, values, onRecord, writer);
    if (switched.safety != TextSafety::Rewritable) {
        if (!switched.holdsValue)
            return FileOutcome::NoValue;
        journal.appendHeader(Journal::Colour::Red, tr("Fichier non modifié : "), displayPath);
        journal.appendPlainText(textSafetyReason(switched.safety));
        return FileOutcome::LeftIntact;
    }
    return rewrite.commit(&journal) ? FileOutcome::Switched : FileOutcome::NotWritten;
}

EnvironmentOutcome recordEnvironment(const QString &configPath, bool toProduction,
                                     bool caseSensitive, const QString &mainDirInForce,
                                     Journal &journal)
{
    QByteArray bytes;
    if (!readWholeFile(configPath, bytes)) {
        journal.flush();
        showCriticalBox(nullptr, tr("Erreur"), tr("Impossible d'ouvrir le fichier ") + configPath);
        return EnvironmentOutcome::Failed;
    }
    const EnvironmentSwitch switched =
            switchEnvironment(bytes, toProduction, caseSensitive, mainDirInForce);
    if (!switched.rewritable)
        return EnvironmentOutcome::NotRewritable;
    if (!switched.recorded)
        return EnvironmentOutcome::NotRecorded;
    Rewrite rewrite(configPath);
    rewrite.write(switched.bytes);
    if (!rewrite.commit(&journal))
        return EnvironmentOutcome::Failed;
    // Said once on disk: a change that did not happen is not shown.
    const QString displayPath = displayedPath(configPath);
    for (const LineRecord &record : switched.records)
        appendRecord(journal, displayPath, record);
    return EnvironmentOutcome::Recorded;
}

bool writeLinesToFile(const QString &filePath, const QStringList &lines)
{
    Rewrite rewrite(filePath);
    rewrite.write(encodeLines(lines));
    return rewrite.commit(nullptr);
}

void recordUnreadableDirectory(const QString &directory, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red, tr("Dossier non parcouru : "), displayedPath(directory));
    journal.appendPlainText(
            tr("Dossier illisible : les fichiers qu'il contient n'ont pas été échangés."));
}

void recordUnreadableFile(const QString &filePath, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red, tr("Fichier non modifié : "), displayedPath(filePath));
    journal.appendPlainText(tr("Fichier illisible : ses valeurs n'ont pas été échangées."));
}

void recordFailedWrite(const QString &filePath, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red, tr("Fichier non modifié : "), displayedPath(filePath));
    journal.appendPlainText(
            tr("Écriture impossible : le fichier garde son contenu d'avant l'échange."));
}

void recordPairLeftAside(const QString &prodValue, const QString &devValue, Journal &journal)
{
    journal.appendHeader(Journal::Colour::Red, tr("Paire de valeurs non utilisée : "),
                              QStringLiteral("prodVal=") + prodValue + QStringLiteral(" / devVal=")
                                      + devValue);
    journal.appendPlainText(tr("Une des deux valeurs est vide : l'échange de cette paire ne "
                               "pourrait pas être défait par l'échange inverse."));
}
