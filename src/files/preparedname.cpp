#include "files/preparedname.h"

#include "files/filesystem.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

constexpr QLatin1String productionTag("prod");
constexpr QLatin1String developmentTag("dev");
constexpr QLatin1String backupTag("old");

// FNV-1a: the same hash on every platform and in every version of the program, since a run
// stopped by one may be finished by another.
quint64 fnv1a(QByteArrayView bytes, quint64 hash = 14695981039346656037ULL)
{
    for (const char c : bytes) {
        hash ^= uchar(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

QByteArray hex16(quint64 value)
{
    return QByteArray::number(value, 16).rightJustified(16, '0');
}

} // namespace

quint64 preparedNameHash(QByteArrayView name)
{
    return fnv1a(name);
}

quint64 preparedStampHash(const FileStamp &stamp)
{
    // Not the device: its number may change from one start of the system to the next.
    quint64 hash = fnv1a(QByteArray::number(stamp.inode));
    hash = fnv1a(":", hash);
    hash = fnv1a(QByteArray::number(stamp.size), hash);
    hash = fnv1a(":", hash);
    return fnv1a(QByteArray::number(stamp.modified), hash);
}

quint64 installationHash(const QString &folder)
{
    // The folder as written out whole: two installations are two folders. Windows names a folder
    // in any case.
    QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        path = canonical;
    if (QDir(QStringLiteral("A")) == QDir(QStringLiteral("a")))
        path = path.toCaseFolded();
    return qMax<quint64>(fnv1a(path.toUtf8()), 1);
}

QByteArray PreparedName::fileName() const
{
    const QLatin1String tag = backup ? backupTag : toProduction ? productionTag : developmentTag;
    QByteArray fileName = temporaryFilePrefix + QByteArray(tag.data(), tag.size()) + '-'
            + hex16(nameHash) + '-' + hex16(stampHash);
    if (installation != 0)
        fileName += '-' + hex16(installation);
    // The file's own name when it fits in the longest name that file systems take (255 bytes on
    // Unix, 255 UTF-16 units on Windows, which UTF-8 never has fewer of).
    if (!name.isEmpty() && fileName.size() + 1 + name.size() <= 255)
        fileName += '-' + name;
    return fileName;
}

std::optional<PreparedName> PreparedName::parse(QStringView fileName)
{
    const QLatin1String prefix(temporaryFilePrefix);
    if (!fileName.startsWith(prefix))
        return std::nullopt;
    QStringView rest = fileName.sliced(prefix.size());
    PreparedName name;
    qsizetype tagSize = 0;
    for (const QLatin1String tag : { productionTag, developmentTag, backupTag }) {
        if (rest.startsWith(tag)) {
            tagSize = tag.size();
            name.toProduction = tag == productionTag;
            name.backup = tag == backupTag;
            break;
        }
    }
    if (tagSize == 0)
        return std::nullopt;
    rest = rest.sliced(tagSize);
    if (rest.size() < 34 || rest.at(0) != u'-' || rest.at(17) != u'-'
        || (rest.size() > 34 && (rest.size() == 35 || rest.at(34) != u'-')))
        return std::nullopt;
    const auto hexAt = [&](qsizetype from, quint64 &value) {
        if (rest.size() < from + 16)
            return false;
        for (const QChar c : rest.sliced(from, 16)) {
            if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
                return false;
        }
        bool ok = false;
        value = rest.sliced(from, 16).toULongLong(&ok, 16);
        return ok;
    };
    if (!hexAt(1, name.nameHash) || !hexAt(18, name.stampHash))
        return std::nullopt;
    // A name that does not answer to its hash is not the file's.
    const auto fileNameFrom = [&](qsizetype from) {
        const QByteArray fileOwnName = systemName(rest.sliced(from).toString());
        return preparedNameHash(fileOwnName) == name.nameHash ? fileOwnName : QByteArray();
    };
    if (rest.size() > 35)
        name.name = fileNameFrom(35);
    // The installation's hash, unless what follows is the file's own name (made before names
    // gave the installation, for a file whose name reads as one).
    quint64 installation = 0;
    if (name.name.isEmpty() && hexAt(35, installation) && installation != 0
        && (rest.size() == 51 || (rest.size() > 52 && rest.at(51) == u'-'))) {
        name.installation = installation;
        if (rest.size() > 52)
            name.name = fileNameFrom(52);
    }
    return name;
}

QByteArray randomTemporaryName()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = temporaryFilePrefix;
    for (int i = 0; i < 6; ++i)
        name.append(letters[QRandomGenerator::global()->bounded(36)]);
    return name;
}

bool isTemporaryFileName(const QString &name)
{
    constexpr qsizetype prefixLength = sizeof(temporaryFilePrefix) - 1;
    if (!name.startsWith(QLatin1String(temporaryFilePrefix)))
        return false;
    if (PreparedName::parse(name))
        return true;
    if (name.size() != prefixLength + 6)
        return false;
    for (qsizetype i = prefixLength; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}
