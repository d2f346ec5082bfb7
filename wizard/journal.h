// The update run's journal, ~UPDATE.JNL in the installation folder: what the
// run is about to change there, on disk before the change is made, so that
// the run is all or nothing. An original file is moved aside (a rename into
// the folder ~UPDATE.TMP of the installation: no copy, no extra space) and
// everything the run creates is named first. A failed run puts it all back; a completed one drops what it
// kept aside; a run that died is undone at the next start. The run holds the
// journal open without sharing, which tells a second copy of the updater
// that the journal belongs to a live run.
#pragma once

#include <cstdint>

#include "base/bounded_text.h"

// A run starts gathering records for the installation at installPath. No
// file is written until JournalApply.
void JournalBegin(const char* installPath);

// Records that the file at path (which exists) is to be moved aside, by a
// rename into the work folder; the move happens in JournalApply. The run
// then writes the new file at path itself.
bool JournalMoveAside(const char* path);
// Records that path (a file or a folder), which does not exist, is to be
// created.
bool JournalCreated(const char* path, bool folder);
// Records path's attributes before they change.
bool JournalAttributes(const char* path);
// Writes the records gathered so far to the journal (made the first time),
// waits until they are on the disk, then moves the recorded originals aside.
// False when any of this fails; what was done is in the journal.
bool JournalApply();

// The run completed: marks the journal so, then drops what was kept aside
// and the journal. False when the mark cannot be written: the run has then
// not completed (JournalRollback undoes it).
bool JournalCommit();
// The run failed: puts every original back and removes what the run made,
// then deletes the journal. A restore that fails keeps the journal for the
// next start.
void JournalRollback();

// At start, before anything touches the installation: undoes (or, when it
// had completed, finishes) a run that died, as its journal says. A journal
// held open by a live run, or one that names paths outside installPath, is
// left alone; so is one whose restore fails, for the next start.
void RecoverInstallation(const char* installPath);

// Records what the shell's copy of source (a file, or a folder with all it
// holds) into destination (the file's own path, or the folder that receives
// the copied folder) will change: every destination file that exists is
// to be moved aside, every file and folder that does not is to be created;
// bytes receives the size of all source files. False when a path does not
// fit or a record cannot be made.
bool JournalShellCopy(const char* source, const char* destination, bool sourceIsFolder,
                      uint64_t* bytes);
