// A simulated file system in place of base/file_system_win32.cpp: drives,
// folders, files and links held in memory, every change recorded in order.
// From the record a test makes the state after any prefix of a run's changes
// as a killed process leaves it, or as a power cut can leave it; it can fail
// any call, and change the tree (plant a link) after any change.
//
// The power-cut model: the file system keeps one ordered log of its changes
// to names, folders, attributes and times (creating, renaming, deleting,
// setting information), as journaling file systems do, and a flush of any
// file writes that log to the disk up to the flush, with the flushed file's
// data. After a power cut the changes before the last flush are all there;
// of those after it, a prefix in their order (any prefix, none or all);
// and each file's data written since that file's last flush may be all
// there, cut short, lost, or zeros over its whole length (the file grew,
// its data never reached the disk).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/file_system.h"

struct SimNode {
  enum Kind : uint8_t { Folder, File, Link };
  Kind kind = Folder;
  bool alive = true;
  int parent = -1;
  std::string name;        // code page 932 bytes, as created
  bool unspelled = false;  // a name code page 932 cannot spell: listed as "?"
  bool shared = false;     // another user owns it or may change it (FsAccessOf)
  uint32_t attributes = kFsFolder;
  FsTimes times{};
  std::string data;    // a file's bytes
  std::string target;  // a link's path (always a folder's)
};

struct SimState {
  std::vector<SimNode> nodes;  // node 0 holds the drives ("C:", "D:") as folders
  uint64_t clock = 0x01D0000000000000ull;
};

// One change, as the log keeps it.
struct SimChange {
  enum Kind : uint8_t { Create, Write, Flush, Rename, Delete, SetInfo };
  Kind kind;
  int node = -1;
  int parent = -1;      // Create, Rename: the folder it lands in
  SimNode created;      // Create: the new node
  uint64_t offset = 0;  // Write
  std::string bytes;    // Write
  int replaced = -1;    // Rename: a file it replaced
  std::string name;     // Rename
  uint32_t attributes = 0;
  bool hasTimes = false;
  FsTimes times{};
  bool IsMetadata() const { return kind != Write && kind != Flush; }
};

// What a power cut keeps of the changes after the last flush.
struct PowerCut {
  size_t metadataKept;  // how many of the metadata changes after the last flush
  enum Data { AllThere, CutShort, Lost, Zeroed } data;
};

// The simulated system of the process (the one the engine's calls reach).
struct SimSystem {
  SimState state;
  std::vector<SimChange> log;
  uint64_t calls = 0;          // every call of the interface, counted from 1
  uint64_t failAt = 0;         // the call that fails (0: none)
  bool placesUnknown = false;  // FsWhere cannot tell, as on the oldest systems
  uint64_t freeSpace = uint64_t{1} << 40;
  // Called after each change is logged, with its index.
  std::function<void(size_t)> afterChange;
};
extern SimSystem sim;

// Starts the system over at state, with no log, no open file, no failure.
void SimReset(const SimState& state);
// True when any file or listing is still open.
bool SimAnythingOpen();

// The state after the first count changes of log, made on from, and with a
// power cut when cut is given.
SimState SimReplay(const SimState& from, const std::vector<SimChange>& log, size_t count,
                   const PowerCut* cut = nullptr);
// Of the first count changes: how many metadata changes, and how many
// changes of any kind, come after the last flush; and whether any file has
// data written since its own last flush.
size_t SimMetadataAfterLastFlush(const std::vector<SimChange>& log, size_t count);
size_t SimChangesAfterLastFlush(const std::vector<SimChange>& log, size_t count);
bool SimUnflushedWrites(const std::vector<SimChange>& log, size_t count);

// Building states. Paths are "X:\A\B" with names in code page 932.
int SimFind(const SimState& state, const std::string& path);  // -1 when none; links not followed
int SimAddFolder(SimState& state, const std::string& path, uint32_t attributes = kFsFolder);
int SimAddFile(SimState& state, const std::string& path, const std::string& data,
               uint32_t attributes, const FsTimes& times, bool unspelled = false);
// Marks what path names (links not followed) as another user's, or as one
// that others may change.
void SimMarkShared(SimState& state, const std::string& path);
// Puts a link at path (whatever was there goes) leading to the folder target.
void SimPlantLink(SimState& state, const std::string& path, const std::string& target);
std::string SimPath(const SimState& state, int node);

// Every living node under the drive's folder, by path: what two states must
// agree on. Folders' times only when withFolderTimes.
std::map<std::string, std::string> SimDescribe(const SimState& state, const std::string& under,
                                               bool withFolderTimes);
