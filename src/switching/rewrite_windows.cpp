// The rewrite on Windows, through QSaveFile.

#include "switching/rewrite.h"

#include <QFile>
#include <QSaveFile>

#include <windows.h>

QString WriteResult::reason() const
{
    if (systemError == 0)
        return {};
    wchar_t *buffer = nullptr;
    const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                    | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, DWORD(systemError), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString text = QString::fromWCharArray(buffer, int(length)).trimmed();
    ::LocalFree(buffer);
    return text;
}

struct Rewrite::Private
{
    explicit Private(const QString &filePath) : path(filePath), file(filePath) { }

    QString path;
    QSaveFile file;
    bool started = false;
    bool failed = false;
    int error = 0;

    void fail()
    {
        if (!failed)
            error = int(::GetLastError());
        failed = true;
    }
    void start()
    {
        started = true;
        // A file that cannot be opened for writing (read-only) stays as it is, although the
        // replacement would be allowed to put a new file in its place.
        if (QFile::exists(path)) {
            QFile probe(path);
            if (!probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
                fail();
                return;
            }
        }
        if (!file.open(QIODevice::WriteOnly))
            fail();
    }
};

Rewrite::Rewrite(const QString &filePath) : d(std::make_unique<Private>(filePath)) { }

Rewrite::~Rewrite()
{
    if (d->file.isOpen())
        d->file.cancelWriting();
}

void Rewrite::write(QByteArrayView bytes)
{
    if (!d->started)
        d->start();
    if (!d->failed && d->file.write(bytes.data(), bytes.size()) != bytes.size())
        d->fail();
}

WriteResult Rewrite::commit()
{
    if (!d->started)
        d->start(); // an empty content
    // QSaveFile::commit() (Qt 6.4) does not notice when the last flush of its buffer fails, for
    // instance on a disk that fills up: it would put a truncated copy in place of the file.
    // Flushing here first makes that failure seen.
    if (!d->failed && !d->file.flush())
        d->fail();
    if (!d->failed && !d->file.commit())
        d->fail();
    if (d->failed) {
        if (d->file.isOpen())
            d->file.cancelWriting();
        return { false, d->error };
    }
    return {};
}
