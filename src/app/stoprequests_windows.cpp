// Stop requests on Windows: the end of the session (WM_QUERYENDSESSION, through the session
// manager of the window, see MainWindow) held back with a reason while a run goes on, and the
// close, Ctrl+C and log-off events of a console the program was started from.

#include "stoprequests.h"

#include "switching/runstop.h"
#include "ui/mainwindow.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>

#include <windows.h>

namespace {

// Read by the thread the system calls the console's handler on; the window lives as long as the
// program does.
std::atomic<MainWindow *> watched{ nullptr };

BOOL WINAPI onConsoleEvent(DWORD event)
{
    // Outside a run there is nothing to finish: the default handler ends the program.
    MainWindow *window = watched.load();
    if (!RunStop::running() || !window)
        return FALSE;
    RunStop::request(0);
    QMetaObject::invokeMethod(window, "stopRequested", Qt::QueuedConnection);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE; // the program ends on its own once the run is over
    // For a console's close, a log-off or a shutdown the system ends the program when this
    // returns, or after five seconds: wait for the run to be abandoned or finished.
    for (int waited = 0; RunStop::running() && waited < 4500; waited += 50)
        ::Sleep(50);
    return TRUE;
}

} // namespace

void watchStopRequests(MainWindow &window)
{
    watched = &window;
    QObject::connect(&window, &QObject::destroyed, [] { watched = nullptr; });
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    // While a run goes on, the end of the session waits, and says why.
    QObject::connect(&window, &MainWindow::switchRunningChanged, &window, [&window](bool running) {
        const HWND handle = reinterpret_cast<HWND>(window.winId());
        if (running) {
            const QString reason = QCoreApplication::translate(
                    "MainWindow",
                    "Un échange de valeurs est en cours : Mirabex le termine avant de se fermer.");
            ::ShutdownBlockReasonCreate(handle, reinterpret_cast<LPCWSTR>(reason.utf16()));
        } else {
            ::ShutdownBlockReasonDestroy(handle);
        }
    });
}
