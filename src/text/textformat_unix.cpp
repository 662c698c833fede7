#include "text/textformat.h"

QByteArray nativeLineTerminator()
{
    return QByteArrayLiteral("\n");
}
