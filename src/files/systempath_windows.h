#pragma once

#include <QString>

#include <string>

// A path as the Windows API takes it: backslashes, made absolute, and with the "\\?\" prefix that
// lifts the limit of 260 characters (MAX_PATH) once it is long.
std::wstring systemPath(const QString &path);
