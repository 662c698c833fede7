#pragma once

#include <QByteArray>
#include <QString>

// Reads a whole file into bytes. False when it cannot be opened (missing, a directory, no right
// to read) or when reading stops before its end; bytes then hold nothing to be used.
bool readWholeFile(const QString &path, QByteArray &bytes);

// What tells one file from another whatever the path that leads to it (a link, a hard link, a
// folder reached twice): device and inode, or the canonical path where there are none. Empty when
// the file cannot be reached.
QString fileIdentity(const QString &path);

// Whether the system refuses this path as too long to be opened at all (PATH_MAX).
bool isPathTooLong(const QString &path);

// The start of the names of the temporary files that the program writes beside a file it
// rewrites (".mirabex-" and six letters or digits). One left by a program that was killed
// half-way is no file of the tree: the walk leaves it out.
inline constexpr char temporaryFilePrefix[] = ".mirabex-";
bool isTemporaryFileName(const QString &name);
