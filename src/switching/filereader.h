#pragma once

#include <QByteArray>
#include <QString>

// Reads a whole file into bytes. False when it cannot be opened (missing, a directory, no right
// to read) or when reading stops before its end; bytes then hold nothing to be used.
bool readWholeFile(const QString &path, QByteArray &bytes);
