#pragma once

#include <QString>

// Presence checks run before a settings file, a collected file or the working directory is used.
// Each shows its own "Erreur" box, without a parent, before it returns false.

// True when something (a file or a directory) exists at path.
[[nodiscard]] bool checkFileExists(const QString &path);

// True when the directory exists.
[[nodiscard]] bool checkDirectory(const QString &path);

// The boxes of the two checks, for a caller that has already found the file or folder missing.
void showMissingFileBox(const QString &path);
void showMissingFolderBox(const QString &path);
