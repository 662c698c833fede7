#pragma once

class MainWindow;

// Requests to stop that come from the system rather than from the window: the end of the
// session, a shutdown, an interrupt from a terminal (SIGTERM, SIGHUP, SIGINT on Unix; the end of
// the session and a console's close or Ctrl+C on Windows). Outside a switch run the program ends
// as it always did. During one, the run is told (see RunStop): it is abandoned if it has not yet
// recorded the new environment, finished otherwise, and the program then ends. One file per
// platform (stoprequests_unix.cpp, stoprequests_windows.cpp).
void watchStopRequests(MainWindow &window);
