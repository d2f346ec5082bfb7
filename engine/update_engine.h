// The update run's file work, apart from its window: planning where every
// item lands, the journal, moving originals aside, writing the package's
// entries, planning and making a disc copy, completing or undoing the
// run. The wizard (wizard/update_run_win32.cpp) reads the script, asks for
// discs and turns the results here into what the player sees. Every change is journaled before it is made and checked
// where it lands, so that the installation ends wholly old or wholly new
// whatever stops the run. Portable, over base/file_system.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"
#include "base/file_system.h"
#include "config/update_items.h"
#include "engine/entry_writer.h"
#include "engine/journal.h"

enum class ItemPlan : uint8_t {
  Write,        // journaled: the original (if any) moved aside, the entry written in its place
  Rewrite,      // as an earlier item of the run, which already wrote that file
  Skip,         // OverwriteOnly and nothing to overwrite
  Attempt,      // nothing the run may write there (a folder in the way, no such folder):
                // the entry is checked and the write fails, untouched
  CannotWrite,  // the destination does not fit, or the journal cannot take it
};

struct UpdateEngine {
  PackageView package;
  char root[kPathCapacity];        // the installation folder, in normal form
  char rootPlace[kPlaceCapacity];  // where it lies ("": the system cannot tell)
  bool overwriteOnly;
  int updateCount;
  const UpdateItem* updates;
  ItemPlan plans[kListKeys];
  char destinations[kListKeys][kPathCapacity];
  char places[kListKeys][kPlaceCapacity];  // where each destination's folder lies
  bool placed[kListKeys];                  // that folder exists, and its place is known
  uint64_t totalBytes;                     // of the entries the run writes
  Journal journal;
};

// Why a run was refused before it changed anything.
struct Refusal {
  bool refused;
  bool copyItem;  // which item's failure message tells it: a copy item's, or
  int index;      // an update item's
};

// Plans the run over installPath: every item's destination in normal form
// (an update or copy item that resolves outside the installation folder, as
// written or through a link, refuses the run, with that item's failure
// message), how each update item is written, all of it in the journal,
// which is on the disk before the originals move aside. A work folder that
// already exists refuses the run too (with the first item's message). Items
// that cannot be written are reported in their turn.
Refusal BeginUpdate(UpdateEngine* engine, const char* installPath, const PackageView& package,
                    const UpdateLists& lists, bool overwriteOnly);

// Writes update item i as planned. Written for an item skipped.
EntryWriteReport WriteUpdateItem(UpdateEngine* engine, int i, const Progress* progress);

// One item copied from a disc: what it copies (source) to where (target: a
// file's own path, or the copied folder's under its own last name in the
// installation folder).
struct DiscCopy {
  char source[kPathCapacity];
  char target[kPathCapacity];
  bool sourceIsFolder;
  uint64_t bytes;  // of all the files it copies
};

// Plans the copy of itemPath from sourceRoot (a drive, or the program's
// folder) and puts in the journal what it will change: every destination
// file that exists is moved aside, every file and folder that does not is
// named as created, and the folder copy's reset of the installation folder's
// attributes is recorded. False, changing nothing, when a path does not
// fit, lands outside, names a file that code page 932 cannot spell, or the
// journal cannot take it.
bool PlanDiscCopy(UpdateEngine* engine, const char* sourceRoot, const char* itemPath,
                  DiscCopy* copy);

// What the copy asks of its caller: progress (each piece written), whether
// the player has cancelled (asked after each piece), and whether to try a
// file that cannot be read once more (false: the copy fails).
struct CopyHooks {
  void* context;
  const Progress* progress;
  bool (*cancelled)(void* context);
  bool (*retryRead)(void* context, const char* path);
};
enum class CopyResult { Done = 0, Failed = 1, Aborted = 2 };

// Copies as planned, through the file system on checked handles: a folder
// lands under its own last name, a file at its own path with the folders on
// the way made; every file is created new where its folder lies as noted,
// written, given the source's last-write time and attributes (a file item:
// none but kFsNormal) and is on the disk before it is closed; a folder copy
// leaves the installation folder a plain folder. What it did is in the
// journal for the run to undo.
CopyResult CopyFromDisc(UpdateEngine* engine, const DiscCopy& copy, const CopyHooks& hooks);

// The run completed: false when that cannot be recorded (the run then fails
// and is undone).
bool CommitUpdate(UpdateEngine* engine);
// The run failed: the installation goes back to what it was. False when a
// step could not be taken: the journal stays for the next start.
bool RollbackUpdate(UpdateEngine* engine);
