#include "switching/rewrite.h"

#include "switching/rewrite_system.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

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

struct Rewrite::Private
{
    QString path;
    std::optional<PreparedName> naming; // a switch run's, or a name of its own
    SystemRewrite system;
    PreparedFile prepared;
    QString entryKey;
    bool located = false;
    bool created = false;
    bool failed = false;
    int error = 0; // of the first failure
    bool lockContent = false;
    FileLock::Outcome lockOutcome = FileLock::Outcome::Failed;

    void fail(int systemError)
    {
        if (!failed)
            error = systemError;
        failed = true;
    }
    void locate()
    {
        if (located)
            return;
        located = true;
        prepared.path = path;
        if (const int failure = system.locate(path, prepared, entryKey))
            fail(failure);
    }
    // The temporary file, made on the first write (or at the end, for an empty content).
    void create()
    {
        locate();
        if (created || failed)
            return;
        created = true;
        if (naming) {
            naming->nameHash = preparedNameHash(prepared.name);
            naming->name = prepared.name;
            prepared.temporaryName = naming->fileName();
        }
        if (const int failure = system.create(prepared, lockContent, lockOutcome))
            fail(failure);
    }
    WriteResult finish(bool flush)
    {
        create();
        if (!failed) {
            if (const int failure = system.finish(prepared, flush))
                fail(failure);
        }
        return failed ? WriteResult{ false, error } : WriteResult{};
    }
};

Rewrite::Rewrite(const QString &filePath) : d(std::make_unique<Private>())
{
    d->path = filePath;
}

Rewrite::Rewrite(const QString &filePath, bool toProduction, const FileStamp &basis,
                 quint64 installation)
    : Rewrite(filePath)
{
    PreparedName naming;
    naming.toProduction = toProduction;
    naming.installation = installation;
    naming.stampHash = preparedStampHash(basis);
    d->naming = naming;
    d->prepared.basis = basis;
}

Rewrite::~Rewrite() = default;

QString Rewrite::entryKey()
{
    d->locate();
    return d->entryKey;
}

QByteArray Rewrite::folder()
{
    d->locate();
    return d->prepared.folder;
}

quint64 Rewrite::device()
{
    d->locate();
    return d->prepared.device;
}

FileLock::Outcome Rewrite::lockOutcome() const
{
    return d->lockOutcome;
}

void Rewrite::lockContent()
{
    d->lockContent = true;
}

void Rewrite::write(QByteArrayView bytes)
{
    d->create();
    if (d->failed)
        return;
    if (const int failure = d->system.write(bytes))
        d->fail(failure);
}

WriteResult Rewrite::prepare(PreparedFile &prepared)
{
    const WriteResult result = d->finish(false);
    if (result)
        prepared = d->prepared;
    return result;
}

WriteResult Rewrite::commit()
{
    WriteResult result = d->finish(true);
    if (!result)
        return result;
    int error = 0;
    if (placeSystemFile(d->prepared, false, error) != PlaceOutcome::Placed) {
        (void)removeSystemFile(d->prepared);
        return { false, error };
    }
    // The new name in the folder reaches the disk too. The file is in place whatever this says:
    // a failure here is no failure of the rewrite.
    (void)flushSystemFolder(d->prepared.folder);
    return result;
}

WriteResult rewriteFile(const QString &filePath, QByteArrayView bytes)
{
    Rewrite rewrite(filePath);
    rewrite.write(bytes);
    return rewrite.commit();
}

WriteResult flushPreparedFiles(const QList<PreparedFile> &files)
{
    const int error = flushSystemFiles(files);
    return error == 0 ? WriteResult{} : WriteResult{ false, error };
}

PlaceOutcome putInPlace(const PreparedFile &file, WriteResult *result, bool onlyCopy)
{
    int error = 0;
    PlaceOutcome outcome = placeSystemFile(file, true, error);
    const WriteResult write =
            outcome == PlaceOutcome::Failed ? WriteResult{ false, error } : WriteResult{};
    // A refusal that will last (no right to replace the file) takes the prepared content away: it
    // would only wait for nothing.
    if (outcome == PlaceOutcome::Failed && !onlyCopy) {
        if (write.mayPass())
            outcome = PlaceOutcome::Waiting;
        else
            (void)removeSystemFile(file);
    }
    if (result)
        *result = write;
    return outcome;
}

WriteResult flushFolders(const QList<PreparedFile> &files)
{
    QSet<QByteArray> flushed;
    WriteResult result;
    for (const PreparedFile &file : files) {
        if (!flushed.contains(file.folder)) {
            flushed.insert(file.folder);
            if (const int error = flushSystemFolder(file.folder); error != 0 && result)
                result = { false, error };
        }
    }
    return result;
}

WriteResult removePreparedFile(const PreparedFile &file)
{
    const int error = removeSystemFile(file);
    return error == 0 ? WriteResult{} : WriteResult{ false, error };
}
