#include "switching/switchrun.h"

#include "files/filecollector.h"
#include "files/filesystem.h"
#include "switching/interruptedrun.h"
#include "files/readahead.h"
#include "files/storagepace.h"

#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QThreadPool>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

// The new contents of a run, on disk beside their files, added from whichever thread prepared
// them. Those still held when it goes (a run abandoned, or that could not record the new
// environment) are removed: the tree stays as it was.
class PreparedContents
{
public:
    PreparedContents() = default;
    // The locked ones last, as they are put in place (see takeAll).
    ~PreparedContents()
    {
        for (const PreparedFile &file : takeAll())
            (void)removePreparedFile(file);
    }
    Q_DISABLE_COPY_MOVE(PreparedContents)

    void add(const PreparedFile &file)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_files.append(file);
    }
    // Removes a content that will not be put in place after all.
    void drop(const PreparedFile &file)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_files.removeIf([&](const PreparedFile &held) {
                return held.folder == file.folder && held.temporaryName == file.temporaryName;
            });
        }
        (void)removePreparedFile(file);
    }
    QList<PreparedFile> files() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_files;
    }
    // The contents, those that hold their folder's lock last: until the last content of a folder
    // is in place, another Mirabex finds the folder's lock and keeps off.
    QList<PreparedFile> takeAll()
    {
        QList<PreparedFile> files;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            files = std::exchange(m_files, {});
        }
        std::stable_partition(files.begin(), files.end(),
                              [](const PreparedFile &file) { return !file.lock; });
        return files;
    }
    // Leaves the contents where they are, to be put in place by the next run or start.
    void keepAll()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_files.clear();
    }

private:
    mutable std::mutex m_mutex;
    QList<PreparedFile> m_files;
};

// The first new content prepared in each folder is locked (see FileLock), and put in place last:
// another installation that meets the folder's contents meanwhile finds a lock held. Contents
// prepared side by side wait for that first one to be locked.
class FolderLocks
{
public:
    // Whether the content about to be made in the folder is to be locked.
    bool claim(const QByteArray &folder)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            State &state = m_states[folder];
            switch (state) {
            case State::None:
                state = State::Locking;
                return true;
            case State::Locking:
                m_changed.wait(lock);
                continue;
            case State::Locked:
            case State::NoLocks:
                return false;
            }
        }
    }
    // How the claimed content went: locked, not made (another one will be), or made without a
    // lock because the file system keeps none.
    void settle(const QByteArray &folder, const PreparedFile &prepared, FileLock::Outcome outcome)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            State &state = m_states[folder];
            if (prepared.lock)
                state = State::Locked;
            else if (!prepared.temporaryName.isEmpty() && outcome == FileLock::Outcome::Failed)
                state = State::NoLocks;
            else
                state = State::None;
        }
        m_changed.notify_all();
    }
    // A locked content removed again: the folder's next content takes the lock.
    void release(const QByteArray &folder)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_states[folder] = State::None;
        }
        m_changed.notify_all();
    }

private:
    enum class State { None, Locking, Locked, NoLocks };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QHash<QByteArray, State> m_states;
};

// Whether a failure to write will meet every file the run has yet to write: the run is then
// abandoned at once, rather than telling the same cause for each file. Only a failure on the
// device of the tree's folder or of config.ini is taken so: a read-only or full file system
// mounted inside the tree meets its own files alone.
bool meetsEveryFile(const WriteResult &write, quint64 device, const QSet<quint64> &mainDevices)
{
    if (!mainDevices.contains(device))
        return false;
    switch (write.fault()) {
    case StorageFault::Full:
    case StorageFault::QuotaReached:
    case StorageFault::ReadOnly:
    case StorageFault::Unreachable:
    case StorageFault::TooManyFiles:
        return true;
    case StorageFault::None:
    case StorageFault::FileOnly:
    case StorageFault::NameTaken:
        return false;
    }
    return false;
}

// From this size on, a file's records are handed on as it is switched rather than gathered: it is
// switched at its turn, not ahead of it.
constexpr qsizetype largeFile = qsizetype(4) << 20;

// One switch run, stage by stage (see switchTree).
class Run
{
public:
    Run(const SwitchRequest &request, SwitchObserver &observer)
        : m_request(request),
          m_observer(observer),
          m_toProduction(!request.fromProduction),
          m_pairs(request.pairs.usablePairs(&m_leftAside)),
          m_values{ SwitchValues(fromValues(), toValues(), false),
                    SwitchValues(fromValues(), toValues(), true) }
    {
    }

    // The pool's threads may still be leaving when the run is over: they use its members.
    ~Run() { m_pool.waitForDone(); }
    Q_DISABLE_COPY_MOVE(Run)

    SwitchRun go();

private:
    // A file of the tree between its reading and its turn.
    struct Item
    {
        qsizetype index = 0;
        QString path;
        enum class Kind {
            Skip, // another name of a file already done, or of an entry already prepared
            NoValue, // read ahead, without a value
            Prepare, // read ahead with a value: prepared on the pool
            AtTurn, // done at its turn: not read ahead, or too large to be switched ahead
        } kind = Kind::AtTurn;
        std::optional<ReadAhead::File> read; // for AtTurn, when it was read ahead
        bool caseSensitive = false; // the state of the box it was searched with
        FileStamp basis; // what the file was when read
        Clock::time_point readEnd;
        qint64 readAt = 0;
        // Prepare: what the pool made of it (started, done: under the pool's mutex).
        bool started = false;
        bool done = false;
        QList<LineRecord> records;
        FileSwitch switched;
        PreparedFile prepared;
        FileLock::Outcome lockOutcome = FileLock::Outcome::Failed;
        quint64 device = 0;
        QString entry;
        QByteArray folder;
        qsizetype bytes = 0;
    };

    const QStringList &fromValues() const
    {
        return m_request.fromProduction ? m_pairs.prodValues : m_pairs.devValues;
    }
    const QStringList &toValues() const
    {
        return m_request.fromProduction ? m_pairs.devValues : m_pairs.prodValues;
    }
    const SwitchValues &values(bool caseSensitive) const { return m_values[caseSensitive ? 1 : 0]; }

    bool collect();
    bool prepareEnvironment();
    void sayWhatIsLeftAside();
    bool prepareFiles();
    bool makeDurable();
    bool commit();
    void putFilesInPlace();

    // The turn of the files, in order: what was read ahead is decided on (decide), prepared on
    // the pool (prepareOnPool), then handed on at its turn (handOn).
    void decide(Item &item);
    void prepareOnPool(std::shared_ptr<Item> item);
    void prepareQueued();
    void prepareAhead(Item &item);
    bool handOn(Item &item);
    bool switchAtTurn(Item &item, std::optional<ReadAhead::File> ahead);
    bool prepareNow(Item &item, const QByteArray &bytes, const FileStamp &basis, bool caseSensitive,
                    bool streamRecords);
    bool outcome(Item &item, QString &identity);
    void stopPool();

    const SwitchRequest &m_request;
    SwitchObserver &m_observer;
    const bool m_toProduction;
    QList<qsizetype> m_leftAside;
    const ValuePairs m_pairs;
    const SwitchValues m_values[2];

    SwitchRun m_run;
    StoragePace m_pace;
    std::unique_ptr<ReadAhead> m_readAhead;
    QStringList m_unreadableDirectories;
    QSet<quint64> m_mainDevices;
    PreparedContents m_configContent;
    QList<PreparedFile> m_configPlaced;
    PreparedContents m_contents;
    FolderLocks m_folderLocks;

    // The turn's bookkeeping. The identities of the files done with (another name of the same file
    // is not done again) and the entries (a folder and a name in it) whose new content is
    // prepared: another path to the same entry (a link to the file, a folder reached twice) finds
    // the file still as it was, and must not switch it a second time. Another hard link to the
    // file is an entry of its own, and is switched in its turn, as the rewrite gives each entry a
    // file of its own.
    QSet<QString> m_handled;
    QSet<QString> m_preparedEntries;
    // The last time a box about a file may have waited for the user, who may have changed the tree
    // meanwhile: what was read before is checked again at its turn.
    Clock::time_point m_userMayHaveActed;

    // The pool that prepares files ahead of their turn, and what it has done.
    QThreadPool m_pool;
    std::mutex m_poolMutex;
    std::condition_variable m_poolDone;
    bool m_stopping = false;
    std::deque<std::shared_ptr<Item>> m_toPrepare;
    int m_preparing = 0; // threads taking from m_toPrepare
};

SwitchRun Run::go()
{
    // The files are read and searched as soon as they are listed, and those that hold a value
    // prepared ahead of their turn; a file's turn hands its records on, in the order of the walk.
    if (!collect() || !prepareEnvironment())
        return std::move(m_run);
    sayWhatIsLeftAside();
    if (!prepareFiles() || !makeDurable() || !commit())
        return std::move(m_run);
    putFilesInPlace();
    return std::move(m_run);
}

bool Run::collect()
{
    m_readAhead = std::make_unique<ReadAhead>(
            [this](const QByteArray &bytes, bool caseSensitive) {
                return fileHoldsAnyValue(bytes, values(caseSensitive));
            },
            [this](const QString &path, const FileStamp &stamp) {
                auto rewrite = std::make_shared<Rewrite>(path, m_toProduction, stamp,
                                                         m_request.installation);
                (void)rewrite->entryKey();
                return rewrite;
            },
            m_observer.caseSensitive(), m_pace);
    QStringList preparedSeen;
    collectFiles(
            m_request.mainDir, m_run.files, m_request.recurse, m_request.filterText,
            &m_unreadableDirectories,
            [&](qsizetype first) { m_readAhead->add(m_run.files.mid(first)); }, &preparedSeen,
            &m_pace);
    m_readAhead->endList();
    // What a stopped run of this installation left is settled before anything is prepared: a new
    // content would otherwise meet its name. What another installation's run is writing now (it
    // holds its lock) is waited for; what a stopped one left is its own to settle.
    preparedSeen += preparedContentsIn(QFileInfo(m_request.configPath).absolutePath());
    for (const QString &path : std::as_const(preparedSeen)) {
        const std::optional<PreparedName> name = PreparedName::parse(QFileInfo(path).fileName());
        if (name->installation == 0 || name->installation == m_request.installation) {
            m_run.leftoversFound = m_run.leftoversFound || !m_request.leftoversSettled;
        } else if (FileLock::heldElsewhere(path)) {
            m_run.switchElsewhere = true;
            return false;
        }
    }
    m_mainDevices.insert(fileStamp(folderPathFromSettings(m_request.mainDir)).device);
    return !m_run.leftoversFound;
}

bool Run::prepareEnvironment()
{
    // config.ini's new content is prepared before any file: when it cannot be, nothing is
    // switched, and its records come first in the journal. It stays locked until the run ends.
    m_run.environment =
            ::prepareEnvironment(m_request.configPath, m_toProduction, m_observer.caseSensitive(),
                                 m_request.mainDir, m_request.installation);
    if (m_run.environment.outcome != EnvironmentOutcome::Recorded) {
        if (m_run.environment.lockOutcome == FileLock::Outcome::Held)
            m_run.switchElsewhere = true;
        else if (m_run.environment.write.fault() == StorageFault::NameTaken)
            m_run.leftoversFound = true;
        return false;
    }
    m_configContent.add(m_run.environment.prepared);
    m_mainDevices.insert(m_run.environment.prepared.device);
    for (const LineRecord &record : std::as_const(m_run.environment.records))
        m_observer.lineRecorded(m_request.configPath, record);
    return true;
}

void Run::sayWhatIsLeftAside()
{
    for (const qsizetype pair : std::as_const(m_leftAside))
        m_observer.pairLeftAside(m_request.pairs.prodValues.at(pair),
                                 m_request.pairs.devValues.at(pair));
    for (const QString &settingsFile : { m_request.configPath, m_request.valuesPath }) {
        const QString identity = fileIdentity(settingsFile);
        if (!identity.isEmpty())
            m_handled.insert(identity);
    }
    // A folder that could not be listed is said before the files; one reached by two paths (a
    // link to it) is said once.
    QSet<QString> unreadableIdentities;
    for (const QString &directory : std::as_const(m_unreadableDirectories)) {
        const QString identity = fileIdentity(directory);
        if (!identity.isEmpty() && unreadableIdentities.contains(identity))
            continue;
        unreadableIdentities.insert(identity);
        m_observer.folderNotRead(directory);
        ++m_run.foldersLeftBehind;
    }
}

bool Run::prepareFiles()
{
    m_observer.filesStarting(m_run.files.size());
    // The files decided on and not handed on yet, in order; those with a value are prepared on the
    // pool meanwhile. As many as keep the pool busy, and no more bytes than the reading keeps.
    std::deque<std::shared_ptr<Item>> pending;
    qsizetype pendingBytes = 0;
    constexpr qsizetype pendingBudget = qsizetype(8) << 20;
    qsizetype decided = 0;
    const qsizetype total = m_run.files.size();
    const bool completed = [&] {
        for (qsizetype turn = 0; turn < total; ++turn) {
            // Decide on the files read ahead, without waiting while there are files to hand on.
            while (decided < total
                   && (pending.empty()
                       || (qsizetype(pending.size()) < 8 * StoragePace::most
                           && pendingBytes < pendingBudget && m_readAhead->isRead(decided)))) {
                auto item = std::make_shared<Item>();
                item->index = decided;
                item->path = m_run.files.at(decided);
                ++decided;
                decide(*item);
                pendingBytes += item->bytes;
                if (item->kind == Item::Kind::Prepare)
                    prepareOnPool(item);
                pending.push_back(std::move(item));
            }
            const std::shared_ptr<Item> item = std::move(pending.front());
            pending.pop_front();
            pendingBytes -= item->bytes;
            if (turn % 10 == 9) {
                m_observer.progress(turn + 1);
                m_readAhead->setCaseSensitive(m_observer.caseSensitive());
            }
            if (m_observer.stopRequested()) {
                m_run.abandoned = true;
                return false;
            }
            if (!handOn(*item))
                return false;
        }
        return true;
    }();
    if (!completed) {
        // What the pool is preparing goes with the rest (see PreparedContents).
        stopPool();
    }
    return completed;
}

void Run::decide(Item &item)
{
    std::optional<ReadAhead::File> ahead = m_readAhead->take(item.index);
    const bool caseSensitive = m_observer.caseSensitive();
    // A file written while it was read, or a moment before, may hold a mix of two versions under
    // one stamp: it is read again at its turn, as are the files to switch that are too large to
    // be switched ahead.
    if (!ahead || ahead->caseSensitive != caseSensitive
        || ahead->stamp.changedRecently(ahead->readAt)
        || (ahead->holdsValue && (!ahead->rewrite || ahead->bytes.size() >= largeFile))) {
        item.kind = Item::Kind::AtTurn;
        item.bytes = ahead ? ahead->bytes.size() : 0;
        item.read = std::move(ahead);
        return;
    }
    item.caseSensitive = ahead->caseSensitive;
    item.basis = ahead->stamp;
    item.readEnd = ahead->readEnd;
    item.readAt = ahead->readAt;
    const QString identity = ahead->stamp.identity();
    if (m_handled.contains(identity)) {
        item.kind = Item::Kind::Skip;
        return;
    }
    if (!ahead->holdsValue) {
        // Done with, unless its turn finds it changed (see handOn).
        item.kind = Item::Kind::NoValue;
        return;
    }
    item.entry = ahead->rewrite->entryKey();
    if (!item.entry.isEmpty() && m_preparedEntries.contains(item.entry)) {
        item.kind = Item::Kind::Skip;
        return;
    }
    if (!item.entry.isEmpty())
        m_preparedEntries.insert(item.entry);
    item.kind = Item::Kind::Prepare;
    item.bytes = ahead->bytes.size();
    item.read = std::move(ahead);
}

// The files to prepare wait in a queue that as many threads take from as the storage's pace
// asks for: a thread goes on with the next file rather than being handed each one.
void Run::prepareOnPool(std::shared_ptr<Item> item)
{
    const int inFlight = m_pace.inFlight();
    bool more;
    {
        const std::lock_guard<std::mutex> lock(m_poolMutex);
        // Those prepared at their turn meanwhile are done with.
        while (!m_toPrepare.empty() && m_toPrepare.front()->started)
            m_toPrepare.pop_front();
        m_toPrepare.push_back(std::move(item));
        // On a storage that answers at once, a thread is woken for a few files at a time, not
        // for each.
        const qsizetype wakeFor = inFlight <= StoragePace::fewest ? 8 : 1;
        more = m_preparing < inFlight && qsizetype(m_toPrepare.size()) >= wakeFor;
        if (more)
            ++m_preparing;
    }
    if (more) {
        m_pool.setMaxThreadCount(qMax(m_pool.maxThreadCount(), inFlight));
        m_pool.start([this] { prepareQueued(); });
    }
}

void Run::prepareQueued()
{
    for (;;) {
        std::shared_ptr<Item> item;
        {
            const std::lock_guard<std::mutex> lock(m_poolMutex);
            // Fewer threads once the storage answers quicker.
            if (m_toPrepare.empty() || m_preparing > m_pace.inFlight()) {
                --m_preparing;
                return;
            }
            item = std::move(m_toPrepare.front());
            m_toPrepare.pop_front();
        }
        prepareAhead(*item);
    }
}

// Prepares a file read ahead, on the pool or at its turn when no thread of the pool has taken it
// up yet (on a local disk, that spares handing it from one thread to another).
void Run::prepareAhead(Item &item)
{
    {
        const std::lock_guard<std::mutex> lock(m_poolMutex);
        if (item.started)
            return;
        item.started = true;
        if (m_stopping) {
            item.done = true;
            m_poolDone.notify_all();
            return;
        }
    }
    const ReadAhead::File &read = *item.read;
    Rewrite &rewrite = *read.rewrite;
    item.folder = rewrite.folder();
    item.device = rewrite.device();
    const bool locks = !item.folder.isEmpty() && m_folderLocks.claim(item.folder);
    if (locks)
        rewrite.lockContent();
    {
        PaceTimer timer(m_pace, 6); // the check, the file made, written, given its rights, closed
        item.switched =
                replaceValuesInFile(read.bytes, values(item.caseSensitive), rewrite,
                                    [&](const LineRecord &record) { item.records.append(record); });
        if (item.switched.outcome == FileOutcome::Switched) {
            item.switched.write = rewrite.prepare(item.prepared);
            item.lockOutcome = rewrite.lockOutcome();
        }
    }
    if (locks)
        m_folderLocks.settle(item.folder, item.prepared, item.lockOutcome);
    if (item.switched.outcome == FileOutcome::Switched && item.switched.write)
        m_contents.add(item.prepared);
    item.read.reset(); // its bytes are written
    {
        const std::lock_guard<std::mutex> lock(m_poolMutex);
        item.done = true;
    }
    m_poolDone.notify_all();
}

void Run::stopPool()
{
    {
        const std::lock_guard<std::mutex> lock(m_poolMutex);
        m_stopping = true;
    }
    m_pool.waitForDone();
}

bool Run::handOn(Item &item)
{
    const bool caseSensitive = m_observer.caseSensitive();
    // What was read before a box waited for the user, or searched in the other state of the box,
    // is checked again now.
    const bool readBeforeActed = item.readEnd < m_userMayHaveActed;
    switch (item.kind) {
    case Item::Kind::Skip:
        return true;
    case Item::Kind::AtTurn:
        return switchAtTurn(item, std::move(item.read));
    case Item::Kind::NoValue:
        if (caseSensitive != item.caseSensitive || readBeforeActed)
            return switchAtTurn(item, std::nullopt);
        m_handled.insert(item.basis.identity());
        return true;
    case Item::Kind::Prepare:
        break;
    }
    prepareAhead(item);
    {
        std::unique_lock<std::mutex> lock(m_poolMutex);
        m_poolDone.wait(lock, [&] { return item.done; });
    }
    const bool prepared = item.switched.outcome == FileOutcome::Switched && item.switched.write;
    if (caseSensitive != item.caseSensitive
        || (readBeforeActed && fileStamp(item.path) != item.basis)) {
        // Prepared from what no longer stands: done again, as it is now.
        if (prepared) {
            m_contents.drop(item.prepared);
            if (item.prepared.lock)
                m_folderLocks.release(item.folder);
        }
        if (!item.entry.isEmpty())
            m_preparedEntries.remove(item.entry);
        return switchAtTurn(item, std::nullopt);
    }
    for (const LineRecord &record : std::as_const(item.records))
        m_observer.lineRecorded(item.path, record);
    QString identity = item.basis.identity();
    if (prepared)
        identity.clear(); // until it is in place, the file is still as it was under each name
    return outcome(item, identity);
}

bool Run::switchAtTurn(Item &item, std::optional<ReadAhead::File> ahead)
{
    const bool caseSensitive = m_observer.caseSensitive();
    // A file read ahead a moment ago without a value is done with as it was read. Any other is
    // checked at its turn: read again when it changed since it was read.
    FileStamp stamp;
    if (ahead && !ahead->holdsValue && ahead->caseSensitive == caseSensitive
        && ahead->readJustNow(m_userMayHaveActed)) {
        stamp = ahead->stamp;
    } else {
        stamp = fileStamp(item.path);
        if (ahead && !ahead->stillAsRead(stamp))
            ahead.reset();
    }
    QString identity = stamp.identity();
    if (m_handled.contains(identity))
        return true;
    // Each file is read once, for the search and for the replacement: ahead of its turn when it
    // has not changed since, now otherwise.
    QByteArray bytes;
    FileStamp basis = stamp; // what the file was when read
    bool holdsValue = false;
    if (ahead) {
        bytes = std::move(ahead->bytes);
        holdsValue = ahead->caseSensitive == caseSensitive
                ? ahead->holdsValue
                : fileHoldsAnyValue(bytes, values(caseSensitive));
    } else if (readFileBytes(item.path, bytes, &basis)) {
        holdsValue = fileHoldsAnyValue(bytes, values(caseSensitive));
    } else {
        const bool missing = isMissingFile(item.path);
        // A tree that no longer answers (a share gone, a disk unplugged) would fail every file
        // in turn.
        if (!fileStamp(folderPathFromSettings(m_request.mainDir)).valid) {
            m_run.storageFault = StorageFault::Unreachable;
            m_run.storageFailurePath = m_request.mainDir;
            return false;
        }
        m_observer.fileNotRead(item.path, missing);
        m_userMayHaveActed = Clock::now();
        if (!missing)
            ++m_run.filesLeftBehind;
    }
    if (holdsValue) {
        if (!prepareNow(item, bytes, basis, caseSensitive, true))
            return true; // another path to an entry already prepared
        if (item.switched.outcome == FileOutcome::Switched && item.switched.write)
            identity.clear(); // until it is in place, the file is still as it was under each name
        return outcome(item, identity);
    }
    if (!identity.isEmpty())
        m_handled.insert(identity);
    return true;
}

// Prepares a file at its turn, its records handed on as it is switched when streamRecords is set.
// False when another path to the same entry was prepared already.
bool Run::prepareNow(Item &item, const QByteArray &bytes, const FileStamp &basis,
                     bool caseSensitive, bool streamRecords)
{
    Rewrite rewrite(item.path, m_toProduction, basis, m_request.installation);
    item.entry = rewrite.entryKey();
    if (!item.entry.isEmpty() && m_preparedEntries.contains(item.entry))
        return false;
    item.folder = rewrite.folder();
    item.device = rewrite.device();
    const bool locks = !item.folder.isEmpty() && m_folderLocks.claim(item.folder);
    if (locks)
        rewrite.lockContent();
    item.records.clear();
    item.prepared = PreparedFile();
    item.switched = replaceValuesInFile(bytes, values(caseSensitive), rewrite,
                                        [&](const LineRecord &record) {
                                            if (streamRecords)
                                                m_observer.lineRecorded(item.path, record);
                                        });
    if (item.switched.outcome == FileOutcome::Switched) {
        item.switched.write = rewrite.prepare(item.prepared);
        item.lockOutcome = rewrite.lockOutcome();
    }
    if (locks)
        m_folderLocks.settle(item.folder, item.prepared, item.lockOutcome);
    if (item.switched.outcome == FileOutcome::Switched && item.switched.write) {
        m_contents.add(item.prepared);
        m_preparedEntries.insert(item.entry);
    }
    return true;
}

// What a file's switch came to, said at its turn. False when the run is to stop there.
bool Run::outcome(Item &item, QString &identity)
{
    FileSwitch &switched = item.switched;
    if (switched.outcome == FileOutcome::Switched && !switched.write) {
        if (!item.entry.isEmpty())
            m_preparedEntries.remove(item.entry);
        if (item.lockOutcome == FileLock::Outcome::Held) {
            // Another Mirabex took the new content as it was made: it is at work here.
            m_run.switchElsewhere = true;
            return false;
        }
        if (switched.write.fault() == StorageFault::NameTaken) {
            m_run.leftoversFound = true;
            return false;
        }
        if (meetsEveryFile(switched.write, item.device, m_mainDevices)) {
            m_run.storageFault = switched.write.fault();
            m_run.storageFailure = switched.write;
            m_run.storageFailurePath = item.path;
            return false;
        }
        switched.outcome = FileOutcome::NotWritten;
    }
    switch (switched.outcome) {
    case FileOutcome::NotWritten:
        // Nothing was written: another name of the same file is tried in its turn.
        identity.clear();
        m_observer.fileLeftBehind(item.path, switched);
        m_userMayHaveActed = Clock::now();
        ++m_run.filesLeftBehind;
        break;
    case FileOutcome::LeftIntact:
        m_observer.fileLeftBehind(item.path, switched);
        ++m_run.filesLeftBehind;
        break;
    case FileOutcome::Switched:
    case FileOutcome::NoValue:
    case FileOutcome::Changed:
    case FileOutcome::NotPlaced:
        break;
    }
    if (!identity.isEmpty())
        m_handled.insert(identity);
    return true;
}

bool Run::makeDurable()
{
    // Every new content durable before the new environment is recorded: after that point, the
    // run can always be finished.
    QList<PreparedFile> everything = m_contents.files();
    everything.append(m_run.environment.prepared);
    m_run.environment.write = flushPreparedFiles(everything);
    if (!m_run.environment.write) {
        m_run.environment.outcome = EnvironmentOutcome::NotDurable;
        return false;
    }
    if (m_observer.stopRequested()) {
        m_run.abandoned = true;
        return false;
    }
    return true;
}

bool Run::commit()
{
    // The point of no return: config.ini names the new environment, durably, before any file of
    // the tree is put in place. Its lock, which the new content carries, keeps other windows off
    // until the run ends.
    m_configPlaced = m_configContent.takeAll();
    const PreparedFile &config = m_configPlaced.constFirst();
    switch (putInPlace(config, &m_run.environment.write)) {
    case PlaceOutcome::Placed:
        break;
    case PlaceOutcome::Changed:
        m_run.environment.outcome = EnvironmentOutcome::Changed;
        return false;
    case PlaceOutcome::Waiting:
        // Not in place: the prepared content goes with the others.
        m_configContent.add(config);
        Q_FALLTHROUGH();
    case PlaceOutcome::Failed:
        m_run.environment.outcome = EnvironmentOutcome::NotWritten;
        return false;
    }
    if (m_request.configLock && config.lock && config.lock->isHeld())
        m_request.configLock->release();
    m_run.durable = flushFolders(m_configPlaced);
    if (!m_run.durable) {
        // Should a power cut lose config.ini's new name, files put in place now would stand in
        // the other environment, and nothing would be left to tell it. They wait, durable, for
        // the next click or start, which finds config.ini as the disk kept it.
        m_run.placementPostponed = true;
        m_run.filesNotPlaced = m_contents.files().size();
        m_contents.keepAll();
        return false;
    }
    return true;
}

void Run::putFilesInPlace()
{
    // The files in place folder by folder, several folders at once, each folder made durable once
    // its files are; what went wrong is said once they all are, in the order of the walk. A
    // content whose placement may pass later stays beside its file, for the next run or start.
    QMap<QByteArray, QList<PreparedFile>> byFolder;
    for (const PreparedFile &file : m_contents.takeAll())
        byFolder[file.folder].append(file); // the locked one of each folder last
    const QList<QList<PreparedFile>> folders = byFolder.values();
    std::mutex mutex;
    QList<QPair<QString, FileSwitch>> notPlaced;
    (void)runFlushes(folders.size(), m_pace.inFlight(), [&](qsizetype i) {
        const QList<PreparedFile> &files = folders.at(i);
        QList<QPair<QString, FileSwitch>> left;
        for (const PreparedFile &file : files) {
            FileSwitch result;
            result.outcome = FileOutcome::NotPlaced;
            switch (putInPlace(file, &result.write)) {
            case PlaceOutcome::Placed:
                continue;
            case PlaceOutcome::Changed:
                result.outcome = FileOutcome::Changed;
                break;
            case PlaceOutcome::Waiting:
                result.waits = true;
                break;
            case PlaceOutcome::Failed:
                break;
            }
            left.append({ file.path, result });
        }
        const WriteResult flushed = flushFolders(files);
        const std::lock_guard<std::mutex> lock(mutex);
        notPlaced += left;
        if (m_run.durable && !flushed)
            m_run.durable = flushed;
        return 0; // what went wrong in one folder keeps no other from being put in place
    });
    if (notPlaced.isEmpty())
        return;
    QHash<QString, qsizetype> order;
    for (qsizetype i = 0; i < m_run.files.size(); ++i)
        order.insert(m_run.files.at(i), i);
    std::sort(notPlaced.begin(), notPlaced.end(), [&](const auto &a, const auto &b) {
        return order.value(a.first) < order.value(b.first);
    });
    for (const auto &[path, result] : std::as_const(notPlaced)) {
        m_observer.fileLeftBehind(path, result);
        ++m_run.filesLeftBehind;
        m_run.filesNotPlaced += result.waits ? 1 : 0;
    }
}

} // namespace

SwitchRun switchTree(const SwitchRequest &request, SwitchObserver &observer)
{
    return Run(request, observer).go();
}
