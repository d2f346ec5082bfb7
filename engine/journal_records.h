// The update run's journal as bytes. Before the run changes anything in the
// installation it writes down what it is about to do, so that a run that
// fails, or a process that dies half-way, can be undone: the records, their
// encoding, reading them back and the plan that undoes them. The files
// themselves are handled by engine/journal.cpp. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

enum class JournalKind : uint8_t {
  MovedAside = 1,  // path's file renamed to aside; its attributes and times kept here
  Created = 2,     // path did not exist and the run creates it (a file or a folder)
  Attributes = 3,  // path's attributes are about to change; these are the old ones
  Committed = 4,   // the run completed: what was moved aside goes, nothing is put back
  AsideFolder = 5, // path, the run's work folder (originals aside), is to be made
  FolderTimes = 6, // path, a folder that exists, is about to change; these are its times
  Retracted = 7,   // the Committed before it may not be on the disk: the run failed after
                   // all, and is undone
};

// Paths are in normal form (engine/paths.h). A place is where the system
// resolved a folder when the run planned (FsWhere, every link followed; ""
// where the system cannot tell): the restore acts on a path only while its
// folder still lies there.
struct JournalRecord {
  JournalKind kind;
  bool folder;             // Created: a folder, removed with whatever it holds
  uint32_t attributes;     // MovedAside, Attributes
  uint64_t times[3];       // MovedAside, FolderTimes: creation, last access, last write (FILETIME)
  const char* path;        // NUL-terminated, inside the journal's bytes when read back
  const char* aside;       // MovedAside: the original's name in the work folder; "" otherwise
  const char* place = "";       // where the folder holding path lay
  const char* asidePlace = "";  // MovedAside: where the work folder lay
};

// Every journal starts with these bytes.
constexpr size_t kJournalHeaderSize = 8;
extern const uint8_t kJournalHeader[kJournalHeaderSize];

// The longest path and place a record holds, terminator included (a path
// buffer, a place buffer of base/file_system.h).
constexpr size_t kJournalPathCapacity = 260;
constexpr size_t kJournalPlaceCapacity = 1024;
// Fixed part of a record, and the most one record takes.
constexpr size_t kJournalRecordFixed = 40;
constexpr size_t kJournalRecordMax =
    kJournalRecordFixed + 2 * kJournalPathCapacity + 2 * kJournalPlaceCapacity + 4;

// Writes record to out (kJournalRecordMax bytes) and returns its length; 0
// when a path or a place is longer than its buffer holds.
size_t EncodeJournalRecord(const JournalRecord& record, uint8_t* out);

// Reads the records of a journal in order. A journal is cut short when the
// machine stops while a record is being written, so reading ends at the
// first record that is not whole and intact: its change was never begun,
// because every change is made only after its record is on disk.
struct JournalReader {
  const uint8_t* bytes;
  size_t size;
  size_t offset;
};
// False when bytes do not start with the journal header.
bool OpenJournalBytes(const uint8_t* bytes, size_t size, JournalReader* reader);
// False at the end (or at a damaged record).
bool NextJournalRecord(JournalReader* reader, JournalRecord* record);

enum class RestoreAction {
  PutBack,        // the file at aside goes back to path, with its attributes and times
  RemoveCreated,  // path goes (a folder with everything in it)
  PutAttributes,  // path gets its old attributes back
  DeleteAside,    // the file kept at aside goes (after a completed run)
  RemoveEmpty,    // path, the run's work folder, goes once it is empty
  PutFolderTimes, // path, a folder, gets its old times back
};
struct RestoreStep {
  RestoreAction action;
  JournalRecord record;
};

// The steps that leave the installation at root as the journal's run found
// it (or, when the run committed, drop what it kept aside), in the order to
// take them: the records backwards, so that each change is undone on the
// state it made; after a completed run, what was kept aside, then the work
// folder. Every step can be taken again after an interruption.
// False, with no steps, when bytes are no journal or a record names a path
// that is not inside root in normal form (only the attributes and times of
// root itself may be recorded): a journal that is not this installation's,
// or that someone else wrote, is never acted on. root is in normal form.
// steps must hold MaxRestoreSteps(size) entries.
bool PlanRestore(const uint8_t* bytes, size_t size, const char* root, RestoreStep* steps,
                 size_t* count);
size_t MaxRestoreSteps(size_t size);
