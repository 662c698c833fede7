#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <atomic>
#include <optional>
#include <thread>
#include <type_traits>

// Does work that waits on storage (on a file share, each request is a round trip) on a thread of
// its own, while the window's thread goes on answering its user, its painting and assistive
// technology. The caller keeps the commands that could start the same work again disabled
// meanwhile; work must not touch the widgets.
template<typename Work>
auto offTheWindow(Work &&work) -> decltype(work())
{
    using Result = decltype(work());
    std::atomic<bool> done{ false };
    QObject waker;
    auto finish = [&] {
        done = true;
        QMetaObject::invokeMethod(
                &waker, [] {}, Qt::QueuedConnection);
    };
    if constexpr (std::is_void_v<Result>) {
        std::thread worker([&] {
            work();
            finish();
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        worker.join();
    } else {
        std::optional<Result> result;
        std::thread worker([&] {
            result.emplace(work());
            finish();
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        worker.join();
        return std::move(*result);
    }
}
