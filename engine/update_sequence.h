// The update run's sequence, once, for the wizard, the crash test and the
// benchmark alike: plan and journal every item, write the update items, find
// each copy item's disc, plan and copy it, and complete. What only the
// caller can do (ask for a disc, show progress, hand the window its
// messages, hear a cancel) comes through hooks; what the player is told of a
// failure is the caller's too, shown before it undoes the run.
#pragma once

#include <cstdint>

#include "base/bounded_text.h"
#include "config/update_items.h"
#include "engine/update_engine.h"

struct RunHooks {
  void* context;
  const Progress* progress;  // each piece of an entry or a copied file written
  // The run has planned and begins to write, totalBytes of entries ahead.
  void (*begun)(void* context, uint64_t totalBytes);
  // An update item is written: the window's messages.
  void (*itemWritten)(void* context);
  // The drive that holds disc's check file, into root: asks for the disc
  // until it is there; false when the player gives up.
  bool (*findDisc)(void* context, int32_t disc, char (&root)[kPathCapacity]);
  // The folder of the running program, into root (copy items without a disc
  // number come from there while no disc was searched).
  bool (*programFolder)(void* context, char (&root)[kPathCapacity]);
  // A copy is planned and journaled: bytes more to come, for the item; and
  // it has ended, whatever its result.
  void (*copyPlanned)(void* context, const CopyItem& item, uint64_t bytes);
  void (*copyEnded)(void* context);
  // During a copy: whether the player has cancelled it, and whether to try
  // a disc's file that cannot be read once more (engine/update_engine.h).
  bool (*cancelled)(void* context);
  bool (*retryRead)(void* context, const char* path);
};

enum class RunEnd {
  Completed,    // every item written and copied, the completion on the disk
  Refused,      // the run could not begin (refusal says with which item's message); nothing changed
  WriteFailed,  // update item `index` failed (report says why)
  CopyFailed,   // copy item `index` failed
  Cancelled,    // the player gave up a disc, or aborted a copy
  NotRecorded,  // everything done, but the completion could not be recorded
};

struct RunResult {
  RunEnd end;
  int index;
  Refusal refusal;
  EntryWriteReport report;
};

// Runs the update of lists over installPath. Anything but Completed leaves
// the run to be undone by the caller (RollbackUpdate), once it has told the
// player; Refused has changed nothing.
RunResult RunUpdateItems(UpdateEngine* engine, const char* installPath, const PackageView& package,
                         const UpdateLists& lists, bool overwriteOnly, const RunHooks& hooks);
