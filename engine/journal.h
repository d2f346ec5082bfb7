// The update run's journal, ~UPDATE.JNL in the installation folder: what the
// run is about to change there, on the disk before the change is made, so
// that the run is all or nothing. An original file is moved aside (a rename
// into the run's work folder ~UPDATE.TMP, which the run always makes new: no
// copy, no extra space) and everything the run creates is named first. A
// failed run puts it all back; a completed one drops what it kept aside; a
// run that died is undone at the next start. The run holds the journal open
// without sharing, which tells a second copy of the updater that the journal
// belongs to a live run. The journal and the work folder are private to the
// user who ran the update, Administrators and the system, and the next start
// acts on no others. Every path is in normal form, with the place its
// folder lay at when the run planned (engine/places.h). Portable, over
// base/file_system.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"
#include "base/file_system.h"
#include "engine/journal_records.h"

extern const char* const kJournalName;     // "~UPDATE.JNL"
extern const char* const kWorkFolderName;  // "~UPDATE.TMP"

constexpr size_t kJournalPending = 64 * 1024;
// Folders whose times the run keeps, beyond the installation folder; a run
// that changes more folders than this gets the first ones' times back (the
// times are not worth failing a run for).
constexpr size_t kTimedFolders = 64;

struct Journal {
  char root[kPathCapacity];          // the installation folder, in normal form
  char rootPlace[kPlaceCapacity];    // where it lies ("": the system cannot tell)
  char path[kPathCapacity];          // the journal file
  char workFolder[kPathCapacity];    // where originals are kept aside
  char workPlace[kPlaceCapacity];    // where the work folder will lie
  FsFile* file;                      // none until the first records are written
  uint8_t pending[kJournalPending];  // records not yet written
  size_t pendingSize;
  uint32_t names;   // counter behind the names of the originals kept aside
  size_t nameRoom;  // the longest name that fits in the work folder (12 but for long paths)
  bool workFolderRecorded;
  bool rootTimesRecorded;
  bool undecided;       // a completion mark that may be on the disk could not be taken back
  bool rootTimesKnown;  // the installation folder's times when the run began
  FsTimes rootTimes;
  char timedFolders[kTimedFolders][kPathCapacity];  // their times are in the journal
  size_t timedFolderCount;
};

// Starts gathering records for the installation at root (normal form), which
// lies at rootPlace. False, writing nothing, when no name of two bytes fits
// in the work folder within a path buffer, or anything (a folder, a file, a
// link) already has the work folder's name: the run makes that folder new
// or not at all.
bool JournalBegin(Journal* journal, const char* root, const char* rootPlace);

// Records what the run is about to change; the change happens in
// JournalApply. place is where the folder holding path lies.
// The file at path (whose information is info) is to be moved aside; the run
// then writes the new file at path itself.
bool JournalMoveAside(Journal* journal, const char* path, const char* place, const FsInfo& info);
// path (a file or a folder with all it will hold), which does not exist, is
// to be created.
bool JournalCreated(Journal* journal, const char* path, const char* place, bool folder);
// path's attributes are about to change; these are the old ones.
bool JournalAttributes(Journal* journal, const char* path, const char* place, uint32_t attributes);

// Writes the records gathered so far to the journal (made the first time),
// waits until they are on the disk, then makes the work folder and moves the
// recorded originals aside, each only while it lies where it was noted.
// False when any of this fails; what was done is in the journal.
bool JournalApply(Journal* journal);

// The run completed: marks the journal so and waits until that is on the
// disk, then drops what was kept aside and the journal. False when the mark
// cannot be written: the run has then not completed (JournalRollback undoes
// it). Every new file's data must be on the disk before this is called.
bool JournalCommit(Journal* journal);
// The run failed: puts every original back and removes what the run made,
// then deletes the journal. False when that could not all be done: the
// journal then stays for the next start. After a JournalCommit whose mark
// could be neither made sure nor taken back, nothing is done (the next
// start goes by what reached the disk).
bool JournalRollback(Journal* journal);

enum class Recovery {
  NoJournal,   // nothing to do
  HeldByRun,   // a live run holds the journal: left alone
  Restored,    // a run that died was undone (or, completed, finished)
  DropPending, // a completed run's originals could not all be dropped yet: the
               // installation is the new one; the journal stays for the next start
  CannotUndo,  // the journal stays: it is not this installation's, names a
               // place that has changed, or a step failed
  SharedJournal,     // the journal is one that other users may have written or
                     // changed: it is not acted on, and stays
  SharedWorkFolder,  // so is the work folder that holds the originals
};
// At start, before anything touches the installation: undoes (or, when it
// had completed, finishes) a run that died, as its journal says.
Recovery RecoverInstallation(const char* installPath);
// Where a journal that could not be undone keeps the originals: the work
// folder of installPath.
void WorkFolderOf(const char* installPath, char (&folder)[kPathCapacity]);
// The path of the journal (kJournalName) or the work folder (kWorkFolderName)
// of installPath, for the player's boxes; "" when it does not fit.
void RecordPathOf(const char* installPath, const char* name, char (&path)[kPathCapacity]);
