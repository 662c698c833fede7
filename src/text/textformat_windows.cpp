#include "text/textformat.h"

QByteArray nativeLineTerminator()
{
    return QByteArrayLiteral("\r\n");
}
