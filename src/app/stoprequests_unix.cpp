// Stop requests on Unix: the signals of the end of a session, of a shutdown and of a terminal.

#include "stoprequests.h"

#include "switching/runstop.h"
#include "ui/mainwindow.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int wakeUp[2] = { -1, -1 }; // the handler writes, the event loop reads

void onStopSignal(int signalNumber)
{
    // Outside a run there is nothing to finish: the program ends as the signal would end it.
    if (!RunStop::running()) {
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        ::sigaction(signalNumber, &standard, nullptr);
        ::raise(signalNumber);
        return;
    }
    const int savedErrno = errno;
    RunStop::request(128 + signalNumber);
    const char byte = char(signalNumber);
    (void)!::write(wakeUp[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void watchStopRequests(MainWindow &window)
{
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // the signals then end the program as they always did
    // The run sees the request between two files; the event loop, which the run lets through
    // every few milliseconds and inside its boxes, tells the window, which closes a box that waits.
    auto *notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (::read(wakeUp[0], bytes, sizeof bytes) > 0) { }
        window.stopRequested();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The system calls of the run that a signal interrupts start again.
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(signalNumber, &action, nullptr);
}
