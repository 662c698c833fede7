#pragma once

#include "files/rewrite.h"

#include <memory>

// What a rewrite asks of the system, one file per platform (rewrite_unix.cpp,
// rewrite_windows.cpp). Each call returns the system's error code, 0 when it succeeded.

// The temporary file of one rewrite while it is being written.
class SystemRewrite
{
public:
    SystemRewrite();
    // Closes the temporary file, and removes it unless it was finished.
    ~SystemRewrite();
    SystemRewrite(const SystemRewrite &) = delete;
    SystemRewrite &operator=(const SystemRewrite &) = delete;

    // Finds the file that the path names (links followed): fills the folder, name, hadFile and
    // device of prepared, and the key of the entry that names it in its folder.
    int locate(const QString &path, PreparedFile &prepared, QString &entryKey);
    // Checks that the file may be written, then creates the temporary file beside it under
    // prepared.temporaryName. With lock, the new file is locked at once and the lock is kept in
    // prepared.lock; lockOutcome says how that went (a lock that cannot be held fails the creation
    // when another holds it).
    int create(PreparedFile &prepared, bool lock, FileLock::Outcome &lockOutcome);
    int write(QByteArrayView bytes);
    // Gives the new file what it must keep of the file it replaces, and closes it (see
    // flushSystemFiles for its content's durability). The temporary file then stays when this
    // object goes.
    int finish(const PreparedFile &prepared);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Makes the content of the prepared files, and their names in their folders, durable.
int flushSystemFiles(const QList<PreparedFile> &files);
// Puts a prepared file in place of its file: when its basis is known, only if the file is still
// what file.basis says (Changed otherwise, and the prepared file is removed). error gets the
// system's code of a failure; the prepared file then stays, for the caller to keep or remove. A
// lock held on the prepared file is held on the file in place afterwards.
PlaceOutcome placeSystemFile(const PreparedFile &file, int &error);
// Makes the entries of a folder durable; the system's code of a failure, 0 also where the file
// system does not flush folders.
int flushSystemFolder(const QByteArray &folder);
int removeSystemFile(const PreparedFile &file);
