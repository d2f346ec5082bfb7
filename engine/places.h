// Where the system resolves the engine's paths, so that no link planted in
// the installation can steer what the engine does. The run notes where each
// folder it changes lies (every link followed) before it changes anything;
// every act then opens its file first and checks, on that handle, that the
// file lies in the noted folder and inside the installation as the system
// resolves it now, so that the check and the act cannot be split. Links
// that were there before the run (the installation folder itself moved to
// another drive behind a junction) keep working: the places were noted
// through them. Portable.
#pragma once

#include <cstddef>

#include "base/file_system.h"

// Where folder lies, into place: "" where the system cannot tell. False when
// it can tell but did not (nothing there, say).
bool FolderPlace(const char* folder, char (&place)[kPlaceCapacity]);

// The information of what path leads to (every link followed: a folder's
// times and attributes, as its acts will find and give them back).
bool InfoOf(const char* path, FsInfo* info);

// What an installation's acts are checked against: its folder in normal form
// and where that lies now ("" where the system cannot tell).
struct PlaceCheck {
  const char* root;
  const char* rootPlace;
};

// True when place lies inside rootPlace (or is it, when itself is allowed).
bool PlaceInside(const char* rootPlace, const char* place, bool itself);

enum class Opened {
  Ok,         // *file is open and lies in the folder the journal noted
  Gone,       // nothing at path
  Elsewhere,  // path now leads somewhere else: a link was planted on the way
  InUse,      // another program holds it without sharing
  Failed,     // it could not be opened
};

// Opens path in mode and checks that it lies in the folder at place (path's
// folder, as noted when the run planned; "" when the system could not tell
// then) and inside the installation. Where the system cannot tell places, no
// folder between the installation folder and path, nor path itself, may be
// a link. A file that FsMode::Create made where it does not belong is deleted
// again (it is new, so it is the run's own).
Opened OpenInPlace(const PlaceCheck& check, const char* path, const char* place, FsMode mode,
                   FsFile** file);

// Opens the folder at folder (FsMode::Look) into *file and checks that it
// still lies at place (as noted), inside the installation (or is it), for
// a rename into it (FsRenameInto) or a file created in it (FsCreateIn).
Opened OpenFolderInPlace(const PlaceCheck& check, const char* folder, const char* place,
                         FsFile** file);

// True when the open file lies in the folder at place ("": the system cannot
// tell, and neither could it when place was noted): the check after an act.
bool LiesIn(FsFile* file, const char* place);

// Deletes an open file (read-only too) or empty folder, and closes it.
// attributes, when the caller knows them already, save asking the system.
bool DeleteOpened(FsFile* file, const uint32_t* attributes = nullptr);

// place without its last part: where the folder holding it lies ("" for "").
void ParentPlace(const char* place, char (&parent)[kPlaceCapacity]);
