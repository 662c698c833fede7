#pragma once

// A request to stop the program that comes from outside the window while a switch may be going
// on: the end of the session, a shutdown, an interrupt from a terminal. A run that has not yet
// recorded the new environment is abandoned, one that has is finished; then the program ends with
// the exit status asked for. The request may be made from a signal handler or from another
// thread.
namespace RunStop {

void request(int exitStatus);
bool requested();
int exitStatus();
// Forgets a request, for a program that goes on after it (a test).
void clear();

// Whether a switch is going on, so that a request that comes outside one ends the program at
// once, as it always did. Set by the window for the length of a run.
void setRunning(bool running);
bool running();

} // namespace RunStop
