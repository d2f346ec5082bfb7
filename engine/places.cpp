#include "engine/places.h"

#include <cstring>

#include "base/bounded_text.h"
#include "engine/paths.h"
#include "package/entry_name.h"

namespace {

// The length of place without its last part (a place's parts are separated
// by '\', which is never part of a character in UTF-8).
size_t ParentLength(const char* place) {
  const char* last = std::strrchr(place, '\\');
  return last ? static_cast<size_t>(last - place) : 0;
}

// Where places cannot be had: no folder below root on the way to path, nor
// path itself, is a link (root itself may be one).
bool NoLinkOnTheWay(const char* root, const char* path) {
  if (!PathInside(root, path)) return SameEntryName(root, path);
  size_t rootLength = TextLength(root);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(path);
  char prefix[kPathCapacity];
  for (size_t i = rootLength + 1;; ++i) {
    if (p[i] != '\\' && p[i] != '\0') {
      if (IsCp932LeadByte(p[i]) && p[i + 1] != '\0') ++i;
      continue;
    }
    std::memcpy(prefix, path, i);
    prefix[i] = '\0';
    FsInfo info;
    if (FsGetInfo(prefix, &info) && (info.attributes & kFsLink)) return false;
    if (p[i] == '\0') return true;
  }
}

}  // namespace

bool FolderPlace(const char* folder, char (&place)[kPlaceCapacity]) {
  FsFile* file = FsOpen(folder, FsMode::Look);
  if (!file) return false;
  FsWhereResult result = FsWhere(file, place);
  FsClose(file);
  if (result == FsWhereResult::Unknown) place[0] = '\0';
  return result != FsWhereResult::Failed;
}

bool InfoOf(const char* path, FsInfo* info) {
  FsFile* file = FsOpen(path, FsMode::Look);
  if (!file) return false;
  bool ok = FsFileInfo(file, info);
  return FsClose(file) && ok;
}

bool PlaceInside(const char* rootPlace, const char* place, bool itself) {
  size_t length = TextLength(rootPlace);
  if (length == 0 || std::strncmp(place, rootPlace, length) != 0) return false;
  if (place[length] == '\0') return itself;
  return place[length] == '\\' || rootPlace[length - 1] == '\\';
}

namespace {

// A new file at path, made in its folder by that folder's handle, which is
// first checked to lie at place inside the installation: no link swapped in
// on the way makes it elsewhere. *folder tells how that check went.
FsFile* CreateInPlace(const PlaceCheck& check, const char* path, const char* place,
                      FsFailure* why, Opened* folder) {
  size_t length = FolderLength(path);
  char name[kPathCapacity];
  *why = FsFailure::Other;
  *folder = Opened::Failed;
  if (length < 2 || !CopyText(name, path)) return nullptr;
  name[length - 1] = '\0';
  FsFile* into = nullptr;
  *folder = OpenFolderInPlace(check, name, place, &into);
  if (*folder != Opened::Ok) {
    if (*folder == Opened::Gone) *why = FsFailure::NotFound;
    return nullptr;
  }
  FsFile* file = FsCreateIn(into, path + length, path, why);
  FsClose(into);
  return file;
}

}  // namespace

Opened OpenInPlace(const PlaceCheck& check, const char* path, const char* place, FsMode mode,
                   FsFile** file) {
  *file = nullptr;
  FsFailure why = FsFailure::None;
  Opened folder = Opened::Ok;
  FsFile* opened = mode == FsMode::Create ? CreateInPlace(check, path, place, &why, &folder)
                                          : FsOpen(path, mode, &why);
  if (folder == Opened::Elsewhere) return Opened::Elsewhere;
  if (!opened)
    return why == FsFailure::NotFound ? Opened::Gone
           : why == FsFailure::InUse  ? Opened::InUse
                                      : Opened::Failed;
  char where[kPlaceCapacity];
  bool ok = false;
  switch (FsWhere(opened, where)) {
    case FsWhereResult::Known: {
      size_t parent = ParentLength(where);
      bool itself = SameEntryName(path, check.root);
      ok = place[0] != '\0' && TextLength(place) == parent && !std::strncmp(where, place, parent) &&
           PlaceInside(check.rootPlace, where, itself);
      break;
    }
    case FsWhereResult::Unknown:
      ok = place[0] == '\0' && check.rootPlace[0] == '\0' && NoLinkOnTheWay(check.root, path);
      break;
    case FsWhereResult::Failed:
      if (mode == FsMode::Create) FsDelete(opened);
      else FsClose(opened);
      return Opened::Failed;
  }
  if (!ok) {
    if (mode == FsMode::Create) FsDelete(opened);
    else FsClose(opened);
    return Opened::Elsewhere;
  }
  *file = opened;
  return Opened::Ok;
}

Opened OpenFolderInPlace(const PlaceCheck& check, const char* folder, const char* place,
                         FsFile** file) {
  *file = nullptr;
  FsFailure why = FsFailure::None;
  FsFile* opened = FsOpen(folder, FsMode::Look, &why);
  if (!opened) return why == FsFailure::NotFound ? Opened::Gone : Opened::Failed;
  char where[kPlaceCapacity];
  FsInfo info;
  bool ok = false;
  switch (FsWhere(opened, where)) {
    case FsWhereResult::Known:
      ok = !std::strcmp(where, place) && PlaceInside(check.rootPlace, where, true);
      break;
    case FsWhereResult::Unknown:
      ok = place[0] == '\0' && check.rootPlace[0] == '\0' && NoLinkOnTheWay(check.root, folder);
      break;
    case FsWhereResult::Failed:
      FsClose(opened);
      return Opened::Failed;
  }
  if (!ok || !FsFileInfo(opened, &info) || !(info.attributes & kFsFolder)) {
    FsClose(opened);
    return ok ? Opened::Failed : Opened::Elsewhere;
  }
  *file = opened;
  return Opened::Ok;
}

bool LiesIn(FsFile* file, const char* place) {
  char where[kPlaceCapacity];
  switch (FsWhere(file, where)) {
    case FsWhereResult::Known: {
      size_t parent = ParentLength(where);
      return place[0] != '\0' && TextLength(place) == parent && !std::strncmp(where, place, parent);
    }
    case FsWhereResult::Unknown:
      return place[0] == '\0';
    case FsWhereResult::Failed:
      break;
  }
  return false;
}

bool DeleteOpened(FsFile* file, const uint32_t* attributes) {
  FsInfo info;
  if (attributes) info.attributes = *attributes;
  else if (!FsFileInfo(file, &info)) info.attributes = 0;
  if (info.attributes & kFsReadOnly)
    FsSetInfo(file, (info.attributes & ~kFsReadOnly) | kFsNormal, nullptr);
  return FsDelete(file);
}

void ParentPlace(const char* place, char (&parent)[kPlaceCapacity]) {
  CopyText(parent, place);
  parent[ParentLength(parent)] = '\0';
}
