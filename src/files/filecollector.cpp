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
    // The folder is there but cannot be listed or gone through, or its listing failed part-way.
    bool unreadable = false;
    // Its entries, sub-folders and files that the name patterns take, in name order ignoring
    // case.
    QList<FolderEntry> entries;
    QStringList prepared; // the names of the prepared contents it holds
};

// Lists the folders of a tree on several threads at once, ahead of the walk: a folder's
// sub-folders are listed as soon as it is, while the walk goes through the folders before them.
// On a file share each listing is a few round trips; side by side, the walk takes about the time
// of the deepest chain of folders rather than the sum of all. How many listings go at once follows
// the storage's pace (see StoragePace).
class Lister
{
public:
    Lister(const QList<NamePattern> &namePatterns, bool recurse, bool unreadableAsked,
           StoragePace &pace)
        : m_namePatterns(namePatterns),
          m_recurse(recurse),
          m_unreadableAsked(unreadableAsked),
          m_pace(pace)
    {
    }
    ~Lister()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
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
        {
            PaceTimer timer(m_pace, 4);
            FolderContents folder = readFolder(directory, m_unreadableAsked);
            timer.setRequests(4 + int(folder.entries.size() / 64));
            if (checkIdentity && !folder.identity.isEmpty()) {
                if (ancestors.contains(folder.identity))
                    listing.backUp = true;
                ancestors.insert(folder.identity);
            }
            // A listing that failed part-way (too many open files, an input/output error) says
            // the folder could not be read, its files left as they are.
            listing.unreadable = !listing.backUp && folder.unreadable;
            if (!listing.backUp && !listing.unreadable)
                takeEntries(folder.entries, listing);
        }
        // The sub-folders listed in their turn, ahead of the walk.
        for (const FolderEntry &entry : std::as_const(listing.entries)) {
            if (entry.isFolder)
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
    // files, in name order ignoring case; each keeps that order.
    void takeEntries(QList<FolderEntry> &listed, Listing &listing) const
    {
        struct Entry
        {
            QString sortKey;
            FolderEntry entry;
        };
        QList<Entry> entries;
        for (FolderEntry &entry : listed) {
            if (!entry.isFolder && PreparedName::parse(entry.name))
                listing.prepared.append(entry.name);
            if (entry.isFolder ? !m_recurse : !matchesName(entry.name))
                continue;
            QString sortKey = entry.name.toLower();
            entries.append({ std::move(sortKey), std::move(entry) });
        }
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
            const int byKey = a.sortKey.compare(b.sortKey);
            return byKey != 0 ? byKey < 0 : a.entry.name < b.entry.name;
        });
        listing.entries.reserve(entries.size());
        for (Entry &entry : entries)
            listing.entries.append(std::move(entry.entry));
    }

    const QList<NamePattern> &m_namePatterns;
    const bool m_recurse;
    const bool m_unreadableAsked;
    StoragePace &m_pace;
    std::mutex m_mutex;
    std::condition_variable m_listed;
    QHash<QString, std::shared_ptr<Listing>> m_listings;
    bool m_stopping = false;
    QThreadPool m_pool; // last: its threads stop before what they use goes
};

struct Walk
{
    Lister *lister = nullptr;
    QStringList *fileList = nullptr;
    QStringList *unreadableDirectories = nullptr;
    std::function<void(qsizetype first)> listed;
    QStringList *preparedContents = nullptr;
};

// directory ends with a slash. Only the top folder's path is read with backslashes as
// separators: below it, a backslash is part of a name (on Unix, where a folder may hold one).
void collectFilesIn(const QString &directory, Walk &walk)
{
    const std::shared_ptr<Listing> listing = walk.lister->take(directory);
    if (listing->backUp)
        return; // a link back up the tree: walking it would never end
    if (listing->unreadable) {
        walk.unreadableDirectories->append(directory);
        return;
    }
    if (walk.preparedContents) {
        for (const QString &name : std::as_const(listing->prepared))
            walk.preparedContents->append(directory + name);
    }
    for (const FolderEntry &entry : std::as_const(listing->entries)) {
        if (entry.isFolder)
            collectFilesIn(directory + entry.name + u'/', walk);
    }

    const qsizetype first = walk.fileList->size();
    for (const FolderEntry &entry : std::as_const(listing->entries)) {
        // Only regular files are listed: reading a FIFO or a device may never end.
        if (!entry.isFolder && !isTemporaryFileName(entry.name))
            walk.fileList->append(directory + entry.name);
    }
    if (walk.listed && walk.fileList->size() > first)
        walk.listed(first);
}

} // namespace

void collectFiles(QString directory, QStringList &fileList, bool recurse, QString filterText,
                  QStringList *unreadableDirectories,
                  const std::function<void(qsizetype first)> &listed, QStringList *preparedContents,
                  StoragePace *pace)
{
    QList<NamePattern> namePatterns;
    for (const QStringView pattern : QStringView(filterText).split(u';', Qt::KeepEmptyParts))
        namePatterns.append(NamePattern(pattern));
    QString top = folderPathFromSettings(directory);
    if (!top.endsWith(u'/'))
        top.append(u'/');
    StoragePace ownPace;
    Lister lister(namePatterns, recurse, unreadableDirectories != nullptr, pace ? *pace : ownPace);
    // The identities (see fileIdentity) of the directories on the way down to the one being
    // walked, that one included, so that a link back to any of them (or a folder mounted again
    // below itself) is not walked again.
    QSet<QString> ancestors;
    const QString topIdentity = fileIdentity(top);
    if (!topIdentity.isEmpty())
        ancestors.insert(topIdentity);
    lister.request(top, ancestors, false);
    Walk walk;
    walk.lister = &lister;
    walk.fileList = &fileList;
    walk.unreadableDirectories = unreadableDirectories;
    walk.listed = listed;
    walk.preparedContents = preparedContents;
    collectFilesIn(top, walk);
}
