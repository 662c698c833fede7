// The helpers that need the system's own calls, where they do not exist: on Windows, the
// permission bits and the file-size limit are not there to enforce, nor FIFOs to make, and
// QFile::link makes shortcuts, not symbolic links. Names are Unicode there: given in bytes, they
// are read as the local encoding of file names.

#include "testfiles.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

PermissionsEnforced::PermissionsEnforced() = default;

PermissionsEnforced::~PermissionsEnforced() = default;

FileSizeLimit::FileSizeLimit(qint64 maxBytes)
{
    Q_UNUSED(maxBytes);
}

FileSizeLimit::~FileSizeLimit() = default;

FailingCalls::FailingCalls(int calls, const QByteArray &name)
{
    Q_UNUSED(calls);
    Q_UNUSED(name);
}

FailingCalls::~FailingCalls() = default;

bool fifosExist()
{
    return false;
}

bool makeFifo(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

bool symbolicLinksArePosix()
{
    return false;
}

bool makeHardLink(const QString &existing, const QString &newPath)
{
#ifdef Q_OS_WIN
    return CreateHardLinkW(
                   reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(newPath).utf16()),
                   reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(existing).utf16()),
                   nullptr)
            != 0;
#else
    Q_UNUSED(existing);
    Q_UNUSED(newPath);
    return false;
#endif
}

bool writeBytesNamed(const QByteArray &path, const QByteArray &bytes)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytesNamed(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot read>");
    return file.readAll();
}

bool makeSymbolicLinkNamed(const QByteArray &target, const QByteArray &linkPath)
{
    Q_UNUSED(target);
    Q_UNUSED(linkPath);
    return false;
}

QList<QByteArray> rawEntriesOf(const QByteArray &folder)
{
    QList<QByteArray> names;
    const QStringList entries = QDir(QFile::decodeName(folder))
                                        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                   | QDir::NoDotAndDotDot);
    for (const QString &entry : entries)
        names.append(QFile::encodeName(entry));
    std::sort(names.begin(), names.end());
    return names;
}
