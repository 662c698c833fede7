#pragma once

#include <QByteArrayView>
#include <QString>

#include <memory>

// How a rewrite ended: the new content in place, or the file as it was with the system's reason.
struct WriteResult
{
    bool done = true;
    int systemError = 0; // errno, or GetLastError() on Windows; 0 when the system gave none

    explicit operator bool() const { return done; }
    // The system's words for the reason, empty when it gave none.
    QString reason() const;
};

// A rewrite of a file: the new content goes to a temporary file beside it (".mirabex-" and six
// letters or digits), which replaces it only once every byte is on disk. A link is followed to
// the file it names, which receives the new content; the link stays a link. A file that cannot
// be opened for writing (read-only) keeps its bytes. The system calls live in one file per
// platform (rewrite_unix.cpp, rewrite_windows.cpp).
class Rewrite
{
public:
    explicit Rewrite(const QString &filePath);
    ~Rewrite();
    Rewrite(const Rewrite &) = delete;
    Rewrite &operator=(const Rewrite &) = delete;

    // Adds to the new content. After a failure, what follows is dropped.
    void write(QByteArrayView bytes);

    // Puts the new content in place of the file. On failure the file keeps its previous bytes.
    [[nodiscard]] WriteResult commit();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes bytes in place of a file's content, as a Rewrite.
[[nodiscard]] WriteResult rewriteFile(const QString &filePath, QByteArrayView bytes);
