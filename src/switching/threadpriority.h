#pragma once

// Lowers the calling thread's share of the processors a little, for work that runs beside the
// window (a run, its readers and pools): when every processor is busy, the window's thread, left
// at its own priority, is the one served first, so that it goes on answering its user. On Linux
// the threads that the calling thread starts afterwards inherit it.
void lowerThreadPriority();
