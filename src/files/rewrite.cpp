#include "files/rewrite.h"

#include "files/rewrite_system.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

struct Rewrite::Private
{
    QString path;
    PreparedName naming; // of the temporary file
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
        naming.nameHash = preparedNameHash(prepared.name);
        naming.name = prepared.name;
        prepared.temporaryName = naming.fileName();
        if (const int failure = system.create(prepared, lockContent, lockOutcome))
            fail(failure);
    }
    WriteResult finish()
    {
        create();
        if (!failed) {
            if (const int failure = system.finish(prepared))
                fail(failure);
        }
        return failed ? WriteResult{ false, error } : WriteResult{};
    }
};

Rewrite::Rewrite(const QString &filePath, bool toProduction, const FileStamp &basis,
                 quint64 installation)
    : d(std::make_unique<Private>())
{
    d->path = filePath;
    d->naming.toProduction = toProduction;
    d->naming.installation = installation;
    d->naming.stampHash = preparedStampHash(basis);
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
    const WriteResult result = d->finish();
    if (result)
        prepared = d->prepared;
    return result;
}

WriteResult flushPreparedFiles(const QList<PreparedFile> &files)
{
    const int error = flushSystemFiles(files);
    return error == 0 ? WriteResult{} : WriteResult{ false, error };
}

PlaceOutcome putInPlace(const PreparedFile &file, WriteResult *result, bool onlyCopy)
{
    int error = 0;
    PlaceOutcome outcome = placeSystemFile(file, error);
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

int runFlushes(qsizetype count, int threads, const std::function<int(qsizetype index)> &job)
{
    std::atomic<qsizetype> next{ 0 };
    std::atomic<int> error{ 0 };
    const auto runSome = [&] {
        for (qsizetype i = next++; i < count && error == 0; i = next++) {
            if (const int failed = job(i))
                error = failed;
        }
    };
    const qsizetype helpers = std::min<qsizetype>(threads, count) - 1;
    QThreadPool pool;
    pool.setMaxThreadCount(int(std::max<qsizetype>(helpers, 1)));
    for (qsizetype i = 0; i < helpers; ++i)
        pool.start(runSome);
    runSome();
    pool.waitForDone();
    return error;
}

WriteResult removePreparedFile(const PreparedFile &file)
{
    const int error = removeSystemFile(file);
    return error == 0 ? WriteResult{} : WriteResult{ false, error };
}
