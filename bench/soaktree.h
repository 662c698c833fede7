#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

// The tree of the soak run: text files that a switch and the switch back give back byte for byte.

struct FileState
{
    qint64 size = 0;
    QByteArray hash;
    unsigned int mode = 0; // permission bits

    bool operator==(const FileState &other) const
    {
        return size == other.size && hash == other.hash && mode == other.mode;
    }
    bool operator!=(const FileState &other) const { return !(*this == other); }
};

// What a tree holds: its files, by path relative to its root, and its folders.
struct TreeState
{
    QMap<QString, FileState> files;
    QStringList folders; // sorted
};

struct SoakTree
{
    QList<QPair<QString, QString>> pairs; // (production, development)
    QString filesFilter; // for FilesFilter=
    TreeState production; // as generated
    TreeState development; // as it must be after one switch
    int files = 0;
    int folders = 0;
    int switchedFiles = 0; // files the switch rewrites
    int filteredOutFiles = 0; // files that hold values but that the filter leaves out
    qint64 bytes = 0;
    int recordsPerSwitch = 0; // values replaced per line, summed over the lines of the tree
    quint32 seed = 1;
    QHash<QString, int> indexByPath;
};

// Writes files files under root (which exists and is empty). On failure error is set.
SoakTree generateSoakTree(const QString &root, int files, quint32 seed, QString *error);

// The bytes a file of the tree holds in production, or in development.
QByteArray expectedBytes(const SoakTree &tree, const QString &relativePath, bool development);

// Reads the tree under root as it stands.
TreeState readTree(const QString &root);

// Empty when the tree under root is exactly expected; otherwise a description of the first
// differences (files missing, extra, changed; folders missing or extra). With tree, a changed
// file is shown by its first line that differs.
QString compareTree(const QString &root, const TreeState &expected, const SoakTree *tree = nullptr,
                    bool development = false);
