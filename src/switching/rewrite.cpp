#include "switching/rewrite.h"

WriteResult rewriteFile(const QString &filePath, QByteArrayView bytes)
{
    Rewrite rewrite(filePath);
    rewrite.write(bytes);
    return rewrite.commit();
}
