// The helpers that need the system's own calls, where they do not exist: on Windows, the
// permission bits and the file-size limit are not there to enforce, nor FIFOs to make.

#include "testfiles.h"

PermissionsEnforced::PermissionsEnforced() = default;

PermissionsEnforced::~PermissionsEnforced() = default;

FileSizeLimit::FileSizeLimit(qint64 maxBytes)
{
    Q_UNUSED(maxBytes);
}

FileSizeLimit::~FileSizeLimit() = default;

bool fifosExist()
{
    return false;
}

bool makeFifo(const QString &path)
{
    Q_UNUSED(path);
    return false;
}
