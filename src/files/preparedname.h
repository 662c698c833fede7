#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

struct FileStamp;

// The start of the names of the temporary files that the program writes beside a file it
// rewrites: ".mirabex-" and six letters or digits, or for a switch run the names of PreparedName.
// One left by a program that was killed half-way is no file of the tree: the walk leaves it out.
inline constexpr char temporaryFilePrefix[] = ".mirabex-";

// The name of a new content prepared by a switch run beside the file it is to replace, until the
// run puts it in place: ".mirabex-", the environment the run switches to ("prod" or "dev"), three
// hashes, of the file's name, of what the file was when it was read (its identity, size and
// modification time) and of the installation whose config.ini the run records the environment in,
// then "-" and the file's name when the whole fits in a name. A run stopped half-way is recognised
// by these names: the environment tells whether the run had recorded it in config.ini, the first
// hash (or the name) which file of the folder the content is for, the second whether that file
// has changed since, the third whose config.ini tells (another installation naming the same tree
// keeps its own). The same name with "old" for the environment is the file as it was while the
// content takes its place (Windows replaces a file in two steps). Names made before the
// installation was named in them have no third hash (installation 0).
struct PreparedName
{
    bool toProduction = false;
    bool backup = false;
    quint64 nameHash = 0;
    quint64 stampHash = 0;
    quint64 installation = 0; // see installationHash; 0 when the name does not say
    QByteArray name; // the file's name as the system has it, when known

    QByteArray fileName() const;
    static std::optional<PreparedName> parse(QStringView fileName);
};
quint64 preparedNameHash(QByteArrayView name);
quint64 preparedStampHash(const FileStamp &stamp);
// The installation whose settings are in folder (the program's own folder), as prepared names give
// it: never 0.
quint64 installationHash(const QString &folder);

// A name of its own for a temporary file: ".mirabex-" and six letters or digits drawn at random.
QByteArray randomTemporaryName();
bool isTemporaryFileName(const QString &name);
