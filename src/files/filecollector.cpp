#include "files/filecollector.h"

#include "files/filesystem.h"
#include "files/rewrite.h"
#include "files/storagepace.h"

#include <QHash>
#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// A file-name pattern as the toolkit's folder listings read them: "*" any run of characters, "?"
// any one character, "[...]" one character of a set ("[!...]" or "[^...]" one outside it, ranges
// such as "a-z"), anything else itself; case ignored. A pattern whose set is not closed, or holds
// a "/", matches nothing. Matched without a regular-expression engine: the listings match names on
// pool threads, and Qt's engine keeps per-thread state whose clean-up at the end of such a thread
// crashes with MinGW (its thread-local storage is freed first). Each "*" is tried further on only
// when what follows it fails: many "*" cost no more than one.
class NamePattern
{
public:
    explicit NamePattern(QStringView pattern)
    {
        for (qsizetype i = 0; i < pattern.size();) {
            Token token;
            const char32_t c = next(pattern, i);
            if (c == U'*') {
                token.kind = Token::Star;
            } else if (c == U'?') {
                token.kind = Token::Any;
            } else if (c == U'[') {
                token.kind = Token::Set;
                if (!readSet(pattern, i, token)) {
                    m_valid = false;
                    return;
                }
            } else {
                token.ranges.append({ folded(c), folded(c) });
            }
            // A run of "*" is one "*".
            if (token.kind != Token::Star || m_tokens.isEmpty()
                || m_tokens.constLast().kind != Token::Star)
                m_tokens.append(std::move(token));
        }
    }

    bool matches(QStringView name) const
    {
        if (!m_valid)
            return false;
        const QList<uint> text = name.toUcs4();
        qsizetype t = 0;
        qsizetype n = 0;
        qsizetype star = -1;
        qsizetype resume = 0;
        while (n < text.size()) {
            if (t < m_tokens.size() && m_tokens.at(t).kind == Token::Star) {
                star = t++;
                resume = n;
            } else if (t < m_tokens.size() && m_tokens.at(t).takes(char32_t(text.at(n)))) {
                ++t;
                ++n;
            } else if (star >= 0) {
                t = star + 1;
                n = ++resume;
            } else {
                return false;
            }
        }
        return t == m_tokens.size()
                || (t + 1 == m_tokens.size() && m_tokens.at(t).kind == Token::Star);
    }

private:
    struct Token
    {
        enum Kind { Char, Any, Star, Set } kind = Char;
        bool negated = false;
        QList<QPair<char32_t, char32_t>> ranges; // Char: one range of one character, folded
        bool takes(char32_t c) const
        {
            if (kind == Any)
                return true;
            // One character by its folded case (the Kelvin sign is a "k"), a range by any case.
            const char32_t variants[] = { c, folded(c), QChar::toUpper(c), QChar::toLower(c) };
            const bool inRanges = std::any_of(ranges.cbegin(), ranges.cend(), [&](const auto &r) {
                if (r.first == r.second)
                    return folded(c) == folded(r.first);
                return std::any_of(std::begin(variants), std::end(variants),
                                   [&](char32_t v) { return v >= r.first && v <= r.second; });
            });
            return inRanges != negated;
        }
    };

    static char32_t folded(char32_t c) { return QChar::toCaseFolded(c); }
    static char32_t next(QStringView text, qsizetype &i)
    {
        const QChar first = text.at(i++);
        if (first.isHighSurrogate() && i < text.size() && text.at(i).isLowSurrogate())
            return QChar::surrogateToUcs4(first, text.at(i++));
        return first.unicode();
    }
    // The set after "[", up to its "]": a "]" first is one of its characters.
    static bool readSet(QStringView pattern, qsizetype &i, Token &token)
    {
        if (i < pattern.size() && (pattern.at(i) == u'!' || pattern.at(i) == u'^')) {
            token.negated = true;
            ++i;
        }
        bool first = true;
        while (i < pattern.size()) {
            const char32_t low = next(pattern, i);
            if (low == U']' && !first)
                return true;
            if (low == U'/')
                return false;
            first = false;
            char32_t high = low;
            if (i + 1 < pattern.size() && pattern.at(i) == u'-' && pattern.at(i + 1) != u']') {
                ++i;
                high = next(pattern, i);
                if (high < low)
                    return false;
            }
            token.ranges.append({ low, high });
        }
        return false;
    }

    QList<Token> m_tokens;
    bool m_valid = true;
};

// What the walk needs of one folder, listed ahead of its turn.
struct Listing
{
    // Taken up by a thread of the pool, or by the walk itself when its turn came first.
    bool started = false;
    QSet<QString> ancestors;
    bool checkIdentity = false;
    bool done = false;
    // A link back up the tree (or a folder mounted again below itself): not walked again.
    bool backUp = false;
    QString identity;
    WalkedFolder folder;
};

// Lists the folders of a tree on several threads at once, ahead of the walk: a folder's
// sub-folders are listed as soon as it is, while the walk goes through the folders before them.
// On a file share each listing is a few round trips; side by side, the walk takes about the time
// of the deepest chain of folders rather than the sum of all. How many listings go at once follows
// the storage's pace (see StoragePace).
class Lister
{
public:
    Lister(const FolderWalk &walk, StoragePace &pace) : m_walk(walk), m_pace(pace)
    {
        for (const QStringView pattern :
             QStringView(walk.filterText).split(u';', Qt::KeepEmptyParts))
            m_namePatterns.append(NamePattern(pattern));
    }
    ~Lister()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        // What the walk passed over (a folder walked already) is not listed any further.
        m_pool.clear();
        m_pool.waitForDone();
    }
    Q_DISABLE_COPY_MOVE(Lister)

    // Lists the folder ahead; ancestors are the identities of the folders on the way down to it
    // (the folder's own included when it is known, as for the top of the tree).
    void request(const QString &directory, const QSet<QString> &ancestors, bool checkIdentity)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping || m_listings.contains(directory))
                return;
            auto listing = std::make_shared<Listing>();
            listing->ancestors = ancestors;
            listing->checkIdentity = checkIdentity;
            m_listings.insert(directory, std::move(listing));
        }
        m_pool.setMaxThreadCount(m_pace.inFlight());
        m_pool.start([this, directory] { startListing(directory); });
    }
    // The folder's listing, once it is made: by the walk itself when no thread of the pool has
    // taken it up yet (on a local disk, that spares handing it from one thread to another).
    std::shared_ptr<Listing> take(const QString &directory)
    {
        startListing(directory);
        std::unique_lock<std::mutex> lock(m_mutex);
        std::shared_ptr<Listing> listing = m_listings.value(directory);
        m_listed.wait(lock, [&] { return listing->done; });
        m_listings.remove(directory);
        return listing;
    }

private:
    bool matchesName(const QString &name) const
    {
        return std::any_of(m_namePatterns.cbegin(), m_namePatterns.cend(),
                           [&](const NamePattern &pattern) { return pattern.matches(name); });
    }

    void startListing(const QString &directory)
    {
        QSet<QString> ancestors;
        bool checkIdentity;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            const std::shared_ptr<Listing> listing = m_listings.value(directory);
            if (!listing || listing->started)
                return;
            listing->started = true;
            ancestors = std::move(listing->ancestors);
            checkIdentity = listing->checkIdentity;
        }
        list(directory, std::move(ancestors), checkIdentity);
    }

    void list(const QString &directory, QSet<QString> ancestors, bool checkIdentity)
    {
        Listing listing;
        listing.started = true;
        listing.folder.path = directory;
        {
            PaceTimer timer(m_pace, 4);
            FolderContents folder = readFolder(directory, m_walk.checkReadable, m_walk.everyEntry);
            timer.setRequests(4 + int(folder.entries.size() / 64));
            listing.identity = folder.identity;
            if (checkIdentity && !folder.identity.isEmpty()) {
                if (ancestors.contains(folder.identity))
                    listing.backUp = true;
                ancestors.insert(folder.identity);
            }
            // A listing that failed part-way (too many open files, an input/output error) says
            // the folder could not be read, its files left as they are.
            listing.folder.unreadable = !listing.backUp && folder.unreadable;
            if (!listing.backUp && !listing.folder.unreadable)
                takeEntries(folder.entries, listing.folder);
        }
        // The sub-folders listed in their turn, ahead of the walk.
        for (const FolderEntry &entry : std::as_const(listing.folder.entries)) {
            if (entry.kind == FolderEntry::Folder)
                request(directory + entry.name + u'/', ancestors, true);
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (const std::shared_ptr<Listing> slot = m_listings.value(directory)) {
                *slot = std::move(listing);
                slot->done = true;
            }
        }
        m_listed.notify_all();
    }

    // One listing gives both the sub-folders (which the name patterns do not filter) and the
    // files, in name order ignoring case (when the walk asks for it); each keeps that order.
    void takeEntries(QList<FolderEntry> &listed, WalkedFolder &folder) const
    {
        struct Entry
        {
            QString sortKey;
            FolderEntry entry;
        };
        QList<Entry> entries;
        for (FolderEntry &entry : listed) {
            if ((m_walk.everyEntry || entry.kind != FolderEntry::Folder)
                && PreparedName::parse(entry.name)) {
                folder.prepared.append(entry.name);
                if (m_walk.everyEntry)
                    continue;
            }
            const bool taken = entry.kind == FolderEntry::Folder
                    ? m_walk.recurse
                    : entry.kind == FolderEntry::File && matchesName(entry.name);
            if (!taken)
                continue;
            QString sortKey = m_walk.inNameOrder ? entry.name.toLower() : QString();
            entries.append({ std::move(sortKey), std::move(entry) });
        }
        if (m_walk.inNameOrder) {
            std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
                const int byKey = a.sortKey.compare(b.sortKey);
                return byKey != 0 ? byKey < 0 : a.entry.name < b.entry.name;
            });
        }
        folder.entries.reserve(entries.size());
        for (Entry &entry : entries)
            folder.entries.append(std::move(entry.entry));
    }

    const FolderWalk &m_walk;
    QList<NamePattern> m_namePatterns;
    StoragePace &m_pace;
    std::mutex m_mutex;
    std::condition_variable m_listed;
    QHash<QString, std::shared_ptr<Listing>> m_listings;
    bool m_stopping = false;
    QThreadPool m_pool; // last: its threads stop before what they use goes
};

// directory ends with a slash.
void walkFolder(const QString &directory, const FolderWalk &walk, Lister &lister)
{
    const std::shared_ptr<Listing> listing = lister.take(directory);
    if (listing->backUp)
        return; // a link back up the tree: walking it would never end
    if (walk.walked) {
        if (listing->identity.isEmpty() || walk.walked->contains(listing->identity))
            return;
        walk.walked->insert(listing->identity);
    }
    const WalkedFolder &folder = listing->folder;
    if (walk.entering)
        walk.entering(folder);
    if (folder.unreadable)
        return;
    for (const FolderEntry &entry : folder.entries) {
        if (entry.kind == FolderEntry::Folder)
            walkFolder(directory + entry.name + u'/', walk, lister);
        else if (walk.file)
            walk.file(folder, entry);
    }
    if (walk.leaving)
        walk.leaving(folder);
}

} // namespace

void walkFolders(const QString &top, const FolderWalk &walk)
{
    QString directory = top;
    if (!directory.endsWith(u'/'))
        directory.append(u'/');
    StoragePace ownPace;
    Lister lister(walk, walk.pace ? *walk.pace : ownPace);
    // The identities (see fileIdentity) of the directories on the way down to the one being
    // walked, that one included, so that a link back to any of them (or a folder mounted again
    // below itself) is not walked again.
    QSet<QString> ancestors;
    const QString topIdentity = fileIdentity(directory);
    if (!topIdentity.isEmpty())
        ancestors.insert(topIdentity);
    lister.request(directory, ancestors, false);
    walkFolder(directory, walk, lister);
}

void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText,
                  QStringList *unreadableDirectories,
                  const std::function<void(qsizetype first)> &listed, QStringList *preparedContents,
                  StoragePace *pace)
{
    FolderWalk walk;
    walk.recurse = recurse;
    walk.filterText = filterText;
    walk.checkReadable = unreadableDirectories != nullptr;
    walk.pace = pace;
    walk.entering = [&](const WalkedFolder &folder) {
        if (folder.unreadable)
            unreadableDirectories->append(folder.path);
        if (preparedContents) {
            for (const QString &name : folder.prepared)
                preparedContents->append(folder.path + name);
        }
    };
    walk.leaving = [&](const WalkedFolder &folder) {
        const qsizetype first = fileList.size();
        for (const FolderEntry &entry : folder.entries) {
            // Only regular files are listed: reading a FIFO or a device may never end.
            if (entry.kind == FolderEntry::File && !isTemporaryFileName(entry.name))
                fileList.append(folder.path + entry.name);
        }
        if (listed && fileList.size() > first)
            listed(first);
    };
    walkFolders(folderPathFromSettings(directory), walk);
}
