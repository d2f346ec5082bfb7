#include "tests/support/sim_file_system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/bounded_text.h"
#include "package/block.h"
#include "package/entry_name.h"
#include "package/extraction_system.h"

SimSystem sim;

struct FsFile {
  int node;
  FsMode mode;
  uint64_t writeAt;
};

struct FsListing {
  std::vector<FsEntry> entries;
  size_t next;
};

namespace {

constexpr uint64_t kTick = 10000000;  // one second of FILETIME
std::vector<FsFile*> openFiles;
int openListings = 0;

SimChange ChangeOf(SimChange::Kind kind) {
  SimChange change;
  change.kind = kind;
  return change;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsCp932LeadByte(c) && i + 1 < path.size()) {
      name += path[i];
      name += path[++i];
    } else if (c == '\\' || c == '/') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += path[i];
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

int Child(const SimState& s, int folder, const std::string& name) {
  for (size_t i = 0; i < s.nodes.size(); ++i) {
    const SimNode& n = s.nodes[i];
    if (n.alive && n.parent == folder && SameEntryName(n.name.c_str(), name.c_str()))
      return static_cast<int>(i);
  }
  return -1;
}

// The node path leads to, or -1. Links on the way are followed, one at the
// last name when followLast.
int Resolve(const SimState& s, const std::vector<std::string>& names, size_t count, bool followLast,
            int depth = 0) {
  if (depth > 8 || s.nodes.empty()) return -1;
  int at = 0;
  for (size_t i = 0; i < count; ++i) {
    if (s.nodes[at].kind != SimNode::Folder) return -1;
    int next = Child(s, at, names[i]);
    if (next < 0) return -1;
    if (s.nodes[next].kind == SimNode::Link && (i + 1 < count || followLast)) {
      std::vector<std::string> target = Split(s.nodes[next].target);
      next = Resolve(s, target, target.size(), true, depth + 1);
      if (next < 0) return -1;
    }
    at = next;
  }
  return at;
}

int Resolve(const SimState& s, const std::string& path, bool followLast) {
  std::vector<std::string> names = Split(path);
  if (names.empty()) return -1;
  return Resolve(s, names, names.size(), followLast);
}

// The folder that would hold path's last name, and that name; -1 when none.
int ResolveParent(const SimState& s, const std::string& path, std::string* name) {
  std::vector<std::string> names = Split(path);
  if (names.size() < 2) return -1;
  *name = names.back();
  int folder = Resolve(s, names, names.size() - 1, true);
  return folder >= 0 && s.nodes[folder].kind == SimNode::Folder ? folder : -1;
}

uint32_t Normalized(const SimNode& node, uint32_t attributes) {
  if (node.kind != SimNode::File) return (attributes & ~kFsNormal) | kFsFolder;
  attributes &= ~kFsFolder;
  if (attributes & ~kFsNormal) attributes &= ~kFsNormal;
  return attributes ? attributes : kFsNormal;
}

void Touch(SimState& s, int folder) {
  if (folder >= 0) s.nodes[folder].times.written = s.clock;
}

void Apply(SimState& s, const SimChange& c, uint64_t clock) {
  s.clock = clock;
  if (c.kind != SimChange::Create && (c.node < 0 || c.node >= static_cast<int>(s.nodes.size())))
    return;
  switch (c.kind) {
    case SimChange::Create:
      if (c.node >= static_cast<int>(s.nodes.size())) {
        SimNode gone;
        gone.alive = false;
        s.nodes.resize(c.node + 1, gone);
      }
      s.nodes[c.node] = c.created;
      Touch(s, c.created.parent);
      break;
    case SimChange::Write: {
      SimNode& n = s.nodes[c.node];
      if (!n.alive || n.kind != SimNode::File) return;
      if (n.data.size() < c.offset) n.data.resize(c.offset, '\0');
      n.data.replace(c.offset, c.bytes.size(), c.bytes);
      n.times.written = s.clock;
      break;
    }
    case SimChange::Flush:
      break;
    case SimChange::Rename: {
      SimNode& n = s.nodes[c.node];
      if (c.replaced >= 0) s.nodes[c.replaced].alive = false;
      Touch(s, n.parent);
      n.parent = c.parent;
      n.name = c.name;
      Touch(s, c.parent);
      break;
    }
    case SimChange::Delete:
      s.nodes[c.node].alive = false;
      Touch(s, s.nodes[c.node].parent);
      break;
    case SimChange::SetInfo: {
      SimNode& n = s.nodes[c.node];
      if (c.attributes) n.attributes = Normalized(n, c.attributes);
      if (c.hasTimes) n.times = c.times;
      break;
    }
  }
}

// Every change moves the clock on by one tick, so that a replay of the same
// changes gives the same times.
void Change(const SimChange& change) {
  Apply(sim.state, change, sim.state.clock + kTick);
  sim.log.push_back(change);
  if (sim.afterChange) sim.afterChange(sim.log.size() - 1);
}

// Every call counts; the one the test chose fails. SIM_TRACE=1 prints them.
bool Call(const char* what, const std::string& detail = "") {
  ++sim.calls;
  static const bool trace = std::getenv("SIM_TRACE") != nullptr;
  if (trace)
    std::fprintf(stderr, "call %llu %s %s%s\n", static_cast<unsigned long long>(sim.calls), what,
                 detail.c_str(), sim.calls == sim.failAt ? " FAILS" : "");
  return sim.calls != sim.failAt;
}
std::string NodeText(int node) { return SimPath(sim.state, node); }

void Fail(FsFailure* why, FsFailure failure) {
  if (why) *why = failure;
}

FsInfo InfoOf(const SimNode& n) {
  uint32_t attributes = n.kind == SimNode::Link ? (kFsLink | kFsFolder) : n.attributes;
  return {attributes, n.times, n.data.size()};
}

// Whether an open in mode is refused while another in held is open, as the
// system shares files: Look (attributes only) neither is refused nor
// refuses; Create and Own share with nobody; Read and Write do not share with
// Change, which may delete.
bool Conflicts(FsMode held, FsMode mode) {
  auto exclusive = [](FsMode m) { return m == FsMode::Create || m == FsMode::Own; };
  auto data = [](FsMode m) { return m == FsMode::Read || m == FsMode::Write; };
  if (held == FsMode::Look || mode == FsMode::Look) return false;
  if (exclusive(held) || exclusive(mode)) return true;
  return (held == FsMode::Change && data(mode)) || (data(held) && mode == FsMode::Change);
}

bool Refused(int node, FsMode mode) {
  for (const FsFile* f : openFiles)
    if (f->node == node && Conflicts(f->mode, mode)) return true;
  return false;
}

bool OpenAtAll(int node) {
  for (const FsFile* f : openFiles)
    if (f->node == node) return true;
  return false;
}

// A new file or folder called name in the folder parent, made now.
int CreateNode(int parent, const std::string& name, SimNode::Kind kind) {
  SimState& s = sim.state;
  SimChange change = ChangeOf(SimChange::Create);
  change.node = static_cast<int>(s.nodes.size());
  change.created.kind = kind;
  change.created.parent = parent;
  change.created.name = name;
  change.created.attributes = kind == SimNode::File ? kFsArchive : kFsFolder;
  uint64_t now = s.clock + kTick;
  change.created.times = {now, now, now};
  Change(change);
  return change.node;
}

FsFile* NewFile(int node, FsMode mode) {
  FsFile* file = new FsFile{node, mode, 0};
  openFiles.push_back(file);
  return file;
}

void Forget(FsFile* file) {
  openFiles.erase(std::find(openFiles.begin(), openFiles.end(), file));
  delete file;
}

bool Living(const SimState& s, int node) {
  for (int at = node; at > 0; at = s.nodes[at].parent)
    if (!s.nodes[at].alive) return false;
  return true;
}

}  // namespace

// --- the interface ------------------------------------------------------------

FsFile* FsOpen(const char* path, FsMode mode, FsFailure* why) {
  Fail(why, FsFailure::None);
  if (!Call("open", std::string(path) + " mode " + std::to_string(static_cast<int>(mode)))) {
    Fail(why, FsFailure::Other);
    return nullptr;
  }
  SimState& s = sim.state;
  if (mode == FsMode::Create) {
    std::string name;
    int parent = ResolveParent(s, path, &name);
    if (parent < 0) {
      Fail(why, FsFailure::NotFound);
      return nullptr;
    }
    if (Child(s, parent, name) >= 0) {
      Fail(why, FsFailure::Exists);
      return nullptr;
    }
    return NewFile(CreateNode(parent, name, SimNode::File), mode);
  }
  int node = Resolve(s, path, true);
  if (node < 0) {
    Fail(why, FsFailure::NotFound);
    return nullptr;
  }
  const SimNode& n = s.nodes[node];
  bool file = n.kind == SimNode::File;
  bool wantsFile = mode == FsMode::Read || mode == FsMode::Write || mode == FsMode::Own;
  if ((wantsFile && !file) ||
      ((mode == FsMode::Write || mode == FsMode::Own) && (n.attributes & kFsReadOnly))) {
    Fail(why, FsFailure::Other);
    return nullptr;
  }
  if (Refused(node, mode)) {
    Fail(why, FsFailure::InUse);
    return nullptr;
  }
  return NewFile(node, mode);
}

FsFile* FsCreateIn(FsFile* folder, const char* name, const char* path, FsFailure* why) {
  Fail(why, FsFailure::None);
  if (!Call("create", NodeText(folder->node) + " " + name + " (" + path + ")") ||
      !Living(sim.state, folder->node) || sim.state.nodes[folder->node].kind != SimNode::Folder) {
    Fail(why, FsFailure::Other);
    return nullptr;
  }
  // The folder is the one the handle holds, wherever its path leads now.
  if (Child(sim.state, folder->node, name) >= 0) {
    Fail(why, FsFailure::Exists);
    return nullptr;
  }
  return NewFile(CreateNode(folder->node, name, SimNode::File), FsMode::Create);
}

FsFile* FsCreateFolderIn(FsFile* folder, const char* name, const char* path) {
  if (!Call("mkdir", NodeText(folder->node) + " " + name + " (" + path + ")") ||
      !Living(sim.state, folder->node) || sim.state.nodes[folder->node].kind != SimNode::Folder ||
      Child(sim.state, folder->node, name) >= 0)
    return nullptr;
  return NewFile(CreateNode(folder->node, name, SimNode::Folder), FsMode::Look);
}

bool FsClose(FsFile* file) {
  if (!file) return true;
  bool ok = Call("close", NodeText(file->node));
  Forget(file);
  return ok;
}

bool FsRead(FsFile* file, uint64_t offset, void* data, uint32_t length, uint32_t* read) {
  *read = 0;
  if (!Call("read", NodeText(file->node))) return false;
  const std::string& bytes = sim.state.nodes[file->node].data;
  if (offset < bytes.size()) {
    *read = static_cast<uint32_t>(std::min<uint64_t>(length, bytes.size() - offset));
    std::memcpy(data, bytes.data() + offset, *read);
  }
  return true;
}

bool FsWrite(FsFile* file, const void* data, uint32_t length) {
  if (!Call("write", NodeText(file->node)) || !Living(sim.state, file->node)) return false;
  SimChange change = ChangeOf(SimChange::Write);
  change.node = file->node;
  change.offset = file->writeAt;
  change.bytes.assign(static_cast<const char*>(data), length);
  Change(change);
  file->writeAt += length;
  return true;
}

bool FsFlush(FsFile* file) {
  if (!Call("flush", NodeText(file->node))) return false;
  SimChange change = ChangeOf(SimChange::Flush);
  change.node = file->node;
  Change(change);
  return true;
}

bool FsFileInfo(FsFile* file, FsInfo* info) {
  if (!Call("fileinfo", NodeText(file->node))) return false;
  *info = InfoOf(sim.state.nodes[file->node]);
  return true;
}

bool FsSetInfo(FsFile* file, uint32_t attributes, const FsTimes* times) {
  if (!Call("setinfo", NodeText(file->node)) || !Living(sim.state, file->node)) return false;
  SimChange change = ChangeOf(SimChange::SetInfo);
  change.node = file->node;
  change.attributes = attributes;
  change.hasTimes = times != nullptr;
  if (times) change.times = *times;
  Change(change);
  return true;
}

bool FsRename(FsFile* file, const char* to, bool replace) {
  if (!Call("rename", NodeText(file->node) + " to " + to) || !Living(sim.state, file->node))
    return false;
  SimState& s = sim.state;
  std::string name;
  int parent = ResolveParent(s, to, &name);
  if (parent < 0) return false;
  for (int at = parent; at > 0; at = s.nodes[at].parent)
    if (at == file->node) return false;  // into itself
  int there = Child(s, parent, name);
  if (there >= 0) {
    const SimNode& n = s.nodes[there];
    if (!replace || there == file->node || n.kind != SimNode::File ||
        (n.attributes & kFsReadOnly) || OpenAtAll(there))
      return false;
  }
  SimChange change = ChangeOf(SimChange::Rename);
  change.node = file->node;
  change.parent = parent;
  change.name = name;
  change.replaced = there;
  Change(change);
  return true;
}

bool FsRenameInto(FsFile* file, FsFile* into, const char* name, const char* to) {
  // The folder is the one the handle holds, wherever its path leads now.
  if (!Call("rename", NodeText(file->node) + " into " + NodeText(into->node) + " as " + name + " (" +
                          to + ")") ||
      !Living(sim.state, file->node) || !Living(sim.state, into->node))
    return false;
  SimState& s = sim.state;
  int parent = into->node;
  if (s.nodes[parent].kind != SimNode::Folder || !*name) return false;
  for (int at = parent; at > 0; at = s.nodes[at].parent)
    if (at == file->node) return false;  // into itself
  if (Child(s, parent, name) >= 0) return false;
  SimChange change = ChangeOf(SimChange::Rename);
  change.node = file->node;
  change.parent = parent;
  change.name = name;
  Change(change);
  return true;
}

bool FsDelete(FsFile* file) {
  bool ok = Call("delete", NodeText(file->node)) && Living(sim.state, file->node);
  SimState& s = sim.state;
  if (ok) {
    const SimNode& n = s.nodes[file->node];
    if (n.attributes & kFsReadOnly) ok = false;
    for (size_t i = 0; ok && i < s.nodes.size(); ++i)
      if (s.nodes[i].alive && s.nodes[i].parent == file->node) ok = false;
  }
  if (ok) {
    SimChange change = ChangeOf(SimChange::Delete);
    change.node = file->node;
    Change(change);
  }
  Forget(file);
  return ok;
}

FsWhereResult FsWhere(FsFile* file, char (&place)[kPlaceCapacity]) {
  if (!Call("where", NodeText(file->node))) return FsWhereResult::Failed;
  if (sim.placesUnknown) return FsWhereResult::Unknown;
  if (!Living(sim.state, file->node)) return FsWhereResult::Failed;
  // As the system gives it, a text in which '\' only separates: the bytes of
  // double-byte characters written out.
  static const char kHex[] = "0123456789ABCDEF";
  std::string path = SimPath(sim.state, file->node), text;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (c < 0x80) {
      text += static_cast<char>(c);
      continue;
    }
    // A double-byte character whole: its second byte may be 0x5C.
    text += '%';
    text += kHex[c >> 4];
    text += kHex[c & 15];
    if (IsCp932LeadByte(c) && i + 1 < path.size()) {
      unsigned char second = static_cast<unsigned char>(path[++i]);
      text += kHex[second >> 4];
      text += kHex[second & 15];
    }
  }
  return CopyText(place, text.c_str()) ? FsWhereResult::Known : FsWhereResult::Failed;
}

bool FsGetInfo(const char* path, FsInfo* info, FsFailure* why) {
  Fail(why, FsFailure::None);
  if (!Call("getinfo", path)) {
    Fail(why, FsFailure::Other);
    return false;
  }
  int node = Resolve(sim.state, path, false);
  if (node < 0) {
    Fail(why, FsFailure::NotFound);
    return false;
  }
  *info = InfoOf(sim.state.nodes[node]);
  return true;
}

// Access lists are not simulated beyond one mark: what the engine makes is
// private, what a test marks is shared.
FsAccess FsAccessOf(FsFile* file) {
  if (!Call("access", NodeText(file->node)) || !Living(sim.state, file->node)) return FsAccess::Shared;
  return sim.state.nodes[file->node].shared ? FsAccess::Shared : FsAccess::Private;
}

bool FsMakePrivate(FsFile* file) {
  return Call("private", NodeText(file->node)) && Living(sim.state, file->node);
}

void SimMarkShared(SimState& state, const std::string& path) {
  int node = SimFind(state, path);
  if (node >= 0) state.nodes[node].shared = true;
}

bool FsCreateFolder(const char* path, bool) {
  if (!Call("mkdir", path)) return false;
  SimState& s = sim.state;
  std::string name;
  int parent = ResolveParent(s, path, &name);
  if (parent < 0 || Child(s, parent, name) >= 0) return false;
  CreateNode(parent, name, SimNode::Folder);
  return true;
}

bool FsFreeSpace(const char*, uint64_t* available) {
  if (!Call("freespace")) return false;
  *available = sim.freeSpace;
  return true;
}

FsListing* FsListOpen(const char* folder, FsFailure* why) {
  Fail(why, FsFailure::None);
  if (!Call("list", folder)) {
    Fail(why, FsFailure::Other);
    return nullptr;
  }
  const SimState& s = sim.state;
  int node = Resolve(s, folder, true);
  if (node < 0 || s.nodes[node].kind != SimNode::Folder) {
    Fail(why, FsFailure::NotFound);
    return nullptr;
  }
  // The system's listing reads the folder and does not share it with a
  // handle that may delete it.
  if (Refused(node, FsMode::Read)) {
    Fail(why, FsFailure::InUse);
    return nullptr;
  }
  FsListing* listing = new FsListing{{}, 0};
  for (const SimNode& n : s.nodes) {
    if (!n.alive || n.parent != node) continue;
    FsEntry e;
    e.spelled = !n.unspelled;
    CopyText(e.name, e.spelled ? n.name.c_str() : "?");
    e.info = InfoOf(n);
    listing->entries.push_back(e);
  }
  ++openListings;
  return listing;
}

FsListed FsListNext(FsListing* listing, FsEntry* entry) {
  if (!Call("listnext")) return FsListed::Failed;
  if (listing->next == listing->entries.size()) return FsListed::End;
  *entry = listing->entries[listing->next++];
  return FsListed::Entry;
}

void FsListClose(FsListing* listing) {
  --openListings;
  delete listing;
}

// The working buffer of a compressed entry, from the heap as ever.
void* ExtractionAllocate(uint32_t size) { return AllocBlock(size); }

// --- for the tests ------------------------------------------------------------

void SimReset(const SimState& state) {
  for (FsFile* f : openFiles) delete f;
  openFiles.clear();
  openListings = 0;
  sim.state = state;
  sim.log.clear();
  sim.calls = 0;
  sim.failAt = 0;
  sim.placesUnknown = false;
  sim.afterChange = nullptr;
}

bool SimAnythingOpen() { return !openFiles.empty() || openListings != 0; }

size_t SimMetadataAfterLastFlush(const std::vector<SimChange>& log, size_t count) {
  size_t metadata = 0;
  for (size_t i = 0; i < count; ++i) {
    if (log[i].kind == SimChange::Flush) metadata = 0;
    else if (log[i].IsMetadata()) ++metadata;
  }
  return metadata;
}

size_t SimChangesAfterLastFlush(const std::vector<SimChange>& log, size_t count) {
  size_t changes = 0;
  for (size_t i = 0; i < count; ++i) changes = log[i].kind == SimChange::Flush ? 0 : changes + 1;
  return changes;
}

bool SimUnflushedWrites(const std::vector<SimChange>& log, size_t count) {
  std::map<int, bool> unflushed;
  for (size_t i = 0; i < count; ++i) {
    if (log[i].kind == SimChange::Write) unflushed[log[i].node] = true;
    if (log[i].kind == SimChange::Flush) unflushed[log[i].node] = false;
  }
  for (const auto& node : unflushed)
    if (node.second) return true;
  return false;
}

SimState SimReplay(const SimState& from, const std::vector<SimChange>& log, size_t count,
                   const PowerCut* cut) {
  SimState s = from;
  size_t lastFlush = 0;
  bool flushed = false;
  std::map<int, size_t> lastFlushOf;
  for (size_t i = 0; i < count; ++i)
    if (log[i].kind == SimChange::Flush) {
      lastFlush = i;
      flushed = true;
      lastFlushOf[log[i].node] = i;
    }
  // A write is on the disk when its file was flushed after it; of the rest
  // a cut-short file keeps the first half.
  auto durable = [&](size_t i) {
    auto f = lastFlushOf.find(log[i].node);
    return f != lastFlushOf.end() && f->second > i;
  };
  std::map<int, uint64_t> budget;
  if (cut && cut->data == PowerCut::CutShort)
    for (size_t i = 0; i < count; ++i)
      if (log[i].kind == SimChange::Write && !durable(i))
        budget[log[i].node] += log[i].bytes.size();
  for (auto& b : budget) b.second /= 2;
  size_t metadataKept = 0;
  uint64_t clock = from.clock;
  for (size_t i = 0; i < count; ++i) {
    const SimChange& c = log[i];
    clock += kTick;
    if (c.IsMetadata()) {
      if (cut && (!flushed || i > lastFlush)) {
        if (metadataKept == cut->metadataKept) continue;
        ++metadataKept;
      }
      Apply(s, c, clock);
    } else if (c.kind == SimChange::Write) {
      if (cut && !durable(i)) {
        if (cut->data == PowerCut::Lost) continue;
        if (cut->data == PowerCut::Zeroed) {
          SimChange zeros = c;
          zeros.bytes.assign(c.bytes.size(), '\0');
          Apply(s, zeros, clock);
          continue;
        }
        if (cut->data == PowerCut::CutShort) {
          uint64_t& left = budget[c.node];
          SimChange part = c;
          part.bytes.resize(std::min<uint64_t>(left, c.bytes.size()));
          left -= part.bytes.size();
          if (!part.bytes.empty()) Apply(s, part, clock);
          continue;
        }
      }
      Apply(s, c, clock);
    }
  }
  s.clock = clock;
  return s;
}

int SimFind(const SimState& state, const std::string& path) { return Resolve(state, path, false); }

namespace {

int AddNode(SimState& state, const std::string& path, SimNode node) {
  if (state.nodes.empty()) state.nodes.push_back(SimNode{});  // the machine
  std::vector<std::string> names = Split(path);
  int parent = 0;
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    int next = Child(state, parent, names[i]);
    if (next < 0) {
      SimNode folder;
      folder.parent = parent;
      folder.name = names[i];
      folder.times = {state.clock, state.clock, state.clock};
      state.nodes.push_back(folder);
      next = static_cast<int>(state.nodes.size()) - 1;
    }
    parent = next;
  }
  int there = Child(state, parent, names.back());
  if (there >= 0) state.nodes[there].alive = false;
  node.parent = parent;
  node.name = names.back();
  state.nodes.push_back(node);
  return static_cast<int>(state.nodes.size()) - 1;
}

}  // namespace

int SimAddFolder(SimState& state, const std::string& path, uint32_t attributes) {
  int found = SimFind(state, path);
  if (found >= 0 && state.nodes[found].kind == SimNode::Folder) return found;
  SimNode node;
  node.attributes = attributes | kFsFolder;
  node.times = {state.clock, state.clock, state.clock};
  return AddNode(state, path, node);
}

int SimAddFile(SimState& state, const std::string& path, const std::string& data,
               uint32_t attributes, const FsTimes& times, bool unspelled) {
  SimNode node;
  node.kind = SimNode::File;
  node.data = data;
  node.attributes = attributes;
  node.times = times;
  node.unspelled = unspelled;
  return AddNode(state, path, node);
}

void SimPlantLink(SimState& state, const std::string& path, const std::string& target) {
  SimNode node;
  node.kind = SimNode::Link;
  node.attributes = kFsLink | kFsFolder;
  node.target = target;
  node.times = {state.clock, state.clock, state.clock};
  AddNode(state, path, node);
}

std::string SimPath(const SimState& state, int node) {
  std::string path;
  for (int at = node; at > 0; at = state.nodes[at].parent)
    path = state.nodes[at].name + (path.empty() ? "" : "\\" + path);
  return path;
}

std::map<std::string, std::string> SimDescribe(const SimState& state, const std::string& under,
                                               bool withFolderTimes) {
  std::map<std::string, std::string> described;
  for (size_t i = 1; i < state.nodes.size(); ++i) {
    const SimNode& n = state.nodes[i];
    if (!Living(state, static_cast<int>(i))) continue;
    std::string path = SimPath(state, static_cast<int>(i));
    if (path.compare(0, under.size(), under) != 0) continue;
    // Names are found without regard to letter case, as the system finds them
    // (a second byte that reads as a letter is no letter).
    std::string key;
    for (size_t c = 0; c < path.size(); ++c) {
      bool pair = IsCp932LeadByte(static_cast<unsigned char>(path[c])) && c + 1 < path.size();
      char ch = path[c];
      key += !pair && ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
      if (pair) key += path[++c];
    }
    std::string value(1, "dfl"[n.kind]);
    value += " attributes " + std::to_string(n.attributes);
    if (n.kind == SimNode::File || withFolderTimes)
      value += " times " + std::to_string(n.times.created) + " " +
               std::to_string(n.times.accessed) + " " + std::to_string(n.times.written);
    if (n.kind == SimNode::File) value += " data " + n.data;
    if (n.kind == SimNode::Link) value += " to " + n.target;
    described[key] = value;
  }
  return described;
}
