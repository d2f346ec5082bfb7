// Keeps the wizard alive while the update run writes: between pieces of
// work the run hands the window's messages on (it repaints, keeps the wait
// cursor, and its busy counter drops commands), so the system never takes
// it for hung, and a progress bar under the status text shows the bytes
// written over the run's total. The taskbar button shows the same progress
// where the system has a taskbar list (Windows 7 and later).
#pragma once

#include <windows.h>

#include <cstdint>

// Readies the system's taskbar list for the wizard (when it opens: making
// it loads a library, which a run should not stop for), and lets it go
// (when the wizard closes).
void ProgressOpenTaskbar();
void ProgressCloseTaskbar();
// Shows the bar at its start for a run of total bytes.
void ProgressBegin(HWND dialog, uint64_t total);
// More bytes to write than the run knew at its start (a disc copy's files).
void ProgressAddTotal(uint64_t bytes);
// bytes more written: moves the bar and hands on waiting messages.
void ProgressAdvance(uint64_t bytes);
// Hands on the messages that wait for the window, unless that was done a
// moment ago.
void PumpMessages();
// The run has failed: while its boxes show, the taskbar button shows the
// progress in the system's failure colour (ProgressEnd clears it).
void ProgressFailing();
// The run waits for the player (a disc to insert): the taskbar button shows
// the progress as paused until ProgressResume.
void ProgressPause();
void ProgressResume();
// Hides the bar (the pages after the run look as they did before) and
// clears the taskbar button's progress. When the wizard is not in front,
// its taskbar button flashes until the player turns to it.
void ProgressEnd();
