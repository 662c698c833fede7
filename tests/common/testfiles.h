#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>

// Small helpers over real files and trees in temporary folders.

void writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);
// The bytes of a text the program rewrote, given with line feeds: each line ends with the
// platform's line terminator ("\r\n" on Windows), as every file the program writes.
QByteArray asWritten(QByteArray lineFeedText);

// The path under which the system lists a file made at path: Windows drops the dots and blanks
// at the end of a name, so that a name such as "trail." cannot exist there.
QString listedPath(QString path);

// A file name that looks like HTML and that the system takes: "a&b<c>.ini", or on Windows, where
// a name cannot hold "<" nor ">", "a&b&lt;c&gt;.ini" (read as markup, it would show "<c>").
QString htmlLikeFileName();

// A path as the journal shows it, with backslashes.
QString displayed(QString path);
// Every name in a folder, hidden ones included, by name: to see that no temporary file stays.
QStringList entriesOf(const QString &folder);

// Every regular file under root, by path relative to root, with its bytes.
QMap<QString, QByteArray> snapshotTree(const QString &root);

QDateTime modificationTime(const QString &path);
// Moves the modification time of a file into the past, so that a rewrite shows.
void ageFile(const QString &path);

// The settings files of the program under test, next to its executable. They are removed again
// when the object goes, so that one test never sees another's settings.
class SettingsFiles
{
public:
    SettingsFiles();
    ~SettingsFiles();
    SettingsFiles(const SettingsFiles &) = delete;
    SettingsFiles &operator=(const SettingsFiles &) = delete;

    static QString configPath();
    static QString valuesPath();
    void writeConfig(const QByteArray &bytes);
    void writeValues(const QByteArray &bytes);
    // A config.ini naming directory, with the given filter and environment lines.
    void writeConfig(const QString &directory, const QString &filter, const QString &environment);
    // A values.ini from pairs of (production, development) values.
    void writeValues(const QList<QPair<QString, QString>> &pairs);
    void removeAll();
};

// Whether the system has FIFOs, and makes one at path.
bool fifosExist();
bool makeFifo(const QString &path);

// Whether QFile::link makes a symbolic link the POSIX way: on Windows it makes a shortcut (.lnk).
bool symbolicLinksArePosix();
// Gives the existing file a second name (a hard link); false where the system cannot.
bool makeHardLink(const QString &existing, const QString &newPath);

// Files and folders named in bytes as the system has them, for names that are not UTF-8 (which
// Qt cannot name). makeSymbolicLinkNamed is false where symbolic links are not made the POSIX way.
bool writeBytesNamed(const QByteArray &path, const QByteArray &bytes);
QByteArray readBytesNamed(const QByteArray &path);
bool makeSymbolicLinkNamed(const QByteArray &target, const QByteArray &linkPath);
// The names in a folder, sorted, without "." and "..".
QList<QByteArray> rawEntriesOf(const QByteArray &folder);

// While an object lives, the file permission bits apply to this thread even when the tests run as
// root: the capabilities that let root read and write any file are dropped from its effective
// set, then given back. On a system where that cannot be done, enforced() is false.
class PermissionsEnforced
{
public:
    PermissionsEnforced();
    ~PermissionsEnforced();
    PermissionsEnforced(const PermissionsEnforced &) = delete;
    PermissionsEnforced &operator=(const PermissionsEnforced &) = delete;

    bool enforced() const { return m_enforced; }

private:
    bool m_enforced = false;
    bool m_dropped = false;
    unsigned int m_saved[2] = { 0, 0 };
};

// While an object lives, this process cannot write files beyond maxBytes (the file-size limit of
// the system), as on a disk that is full: a write past the limit fails with an error.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 maxBytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return m_active; }

private:
    bool m_active = false;
    unsigned long long m_savedSoft = 0;
    unsigned long long m_savedHard = 0;
};

// While an object lives, system calls of this process fail with an input/output error, as on a
// failing disk: each flush of a folder (fsync of a folder; with a name, only of the folders whose
// path ends with it), each flush of a whole file system (syncfs), or each rename that gives a file
// the name. On a system where the calls cannot be made to fail, active() is false.
class FailingCalls
{
public:
    enum Call { FolderFlush = 1, FileSystemFlush = 2, Rename = 4 };
    explicit FailingCalls(int calls, const QByteArray &name = {});
    ~FailingCalls();
    FailingCalls(const FailingCalls &) = delete;
    FailingCalls &operator=(const FailingCalls &) = delete;

    bool active() const { return m_active; }

private:
    bool m_active = false;
};

// Ends the application's event loop with status 99 when it is still running after timeoutMs, so
// that a test of "the program ends by itself" fails instead of hanging.
class EventLoopWatchdog
{
public:
    explicit EventLoopWatchdog(int timeoutMs = 10000);
    bool fired() const { return m_fired; }

private:
    QTimer m_timer;
    bool m_fired = false;
};
