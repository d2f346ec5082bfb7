// The file system as the update engine uses it: the few calls it makes, on
// code page 932 paths. base/file_system_win32.cpp makes them over Win32 (the
// UTF-16 calls, converted from code page 932 as the rest of base/system
// does); the tests put a simulated file system in its place, which records
// every call and can fail, or stop after, any of them. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bounded_text.h"

// Attributes, with the values of the system's FILE_ATTRIBUTE_*.
constexpr uint32_t kFsReadOnly = 0x01;
constexpr uint32_t kFsHidden = 0x02;
constexpr uint32_t kFsSystem = 0x04;
constexpr uint32_t kFsFolder = 0x10;
constexpr uint32_t kFsArchive = 0x20;
constexpr uint32_t kFsNormal = 0x80;
constexpr uint32_t kFsLink = 0x400;  // a reparse point: a symbolic link or a junction

// Creation, last access and last write, as FILETIME values.
struct FsTimes {
  uint64_t created;
  uint64_t accessed;
  uint64_t written;
};

struct FsInfo {
  uint32_t attributes;
  FsTimes times;
  uint64_t size;
};

// An open file or folder; nullptr is none.
struct FsFile;

enum class FsMode {
  Look,    // an existing file or folder, for its information and place only
  Change,  // an existing file or folder, to delete, rename or give attributes and times
  Read,    // an existing file, to read
  Write,   // an existing file, to write (or flush what another program wrote)
  Create,  // a new file, to write, read and delete; fails when the name exists
  Own,     // an existing file, to read, write and delete
};
// Every mode follows links, one at the last name included: the file opened is
// the one the path leads to, and FsWhere tells where that is. Look and
// Change share the file with every other use, Read and Write with readers
// and writers (so that a Change, which may delete, waits for them to
// close). Create and Own share it with nobody: while one is open, no other
// open that reads, writes or deletes succeeds (FsFailure::InUse).

enum class FsFailure { None, NotFound, Exists, InUse, Other };

// Opens path; nullptr on failure, with why when given.
FsFile* FsOpen(const char* path, FsMode mode, FsFailure* why = nullptr);
// False when the file could not be closed (its data may not be written).
bool FsClose(FsFile* file);
// Creates the file (FsMode::Create) called name (one name) in the open
// folder folder, which stays where it is whatever happens to the path that
// led to it; path is the same place as a path, which a system that refuses
// the folder's handle for a create takes instead (say, Wine, which goes by
// the folder's path as it was opened).
FsFile* FsCreateIn(FsFile* folder, const char* name, const char* path, FsFailure* why = nullptr);
// The same for a new folder, open as FsMode::Look.
FsFile* FsCreateFolderIn(FsFile* folder, const char* name, const char* path);
// Reads up to length bytes from offset; read receives how many.
bool FsRead(FsFile* file, uint64_t offset, void* data, uint32_t length, uint32_t* read);
// Writes all length bytes behind the last bytes written (from the start of
// the file at first), or returns false.
bool FsWrite(FsFile* file, const void* data, uint32_t length);
// Waits until the file's data, and what the system keeps about the file,
// are on the disk.
bool FsFlush(FsFile* file);
bool FsFileInfo(FsFile* file, FsInfo* info);
// Gives the open file attributes (0: keeps them; a folder keeps its folder
// bit) and times (none: keeps them).
bool FsSetInfo(FsFile* file, uint32_t attributes, const FsTimes* times);
// Moves the open file or folder to the path to on the same drive. When
// something is there, it fails, or with replace takes the place of a file
// (not a read-only one). The file stays open.
bool FsRename(FsFile* file, const char* to, bool replace = false);
// Moves the open file or folder to name (one name, no separator) in the
// open folder into, which stays where it is whatever happens to the path
// that led to it: the folder checked is the folder the file lands in. to is
// the same place as a path, which systems that refuse the folder's handle
// for a rename take instead. Fails when something has that name.
bool FsRenameInto(FsFile* file, FsFile* into, const char* name, const char* to);
// Deletes the open file or empty folder and closes it. A read-only file is
// not deleted.
bool FsDelete(FsFile* file);

// Where the open file lies, as the system resolved its path (every link on
// the way followed): a text to compare with another FsWhere, with the parts
// separated by '\' (the system's final path, as UTF-8).
constexpr size_t kPlaceCapacity = 1024;
enum class FsWhereResult { Known, Unknown /* the system cannot tell */, Failed };
FsWhereResult FsWhere(FsFile* file, char (&place)[kPlaceCapacity]);

// path's attributes, times and size; a link at the last name is described
// itself. False when nothing is there (why: NotFound) or it cannot be told.
bool FsGetInfo(const char* path, FsInfo* info, FsFailure* why = nullptr);
// A new folder; with privateAccess, one that only the current user,
// Administrators and the system may open, whatever the folder around it
// lets others do.
bool FsCreateFolder(const char* path, bool privateAccess = false);

// Who may change an open file or folder: Private when its owner is the
// current user, Administrators or the system and nobody else may write,
// delete or re-permit it; Shared when anyone else may (or the system would
// not say); Unknown where the volume keeps no access lists at all (FAT).
enum class FsAccess { Private, Shared, Unknown };
FsAccess FsAccessOf(FsFile* file);
// Makes a file just created (FsMode::Create) private, as FsCreateFolder does.
bool FsMakePrivate(FsFile* file);
bool FsFreeSpace(const char* root, uint64_t* available);

// The entries of a folder, "." and ".." left out. spelled is false for a
// name that code page 932 cannot spell: name then holds a stand-in that no
// file call accepts.
struct FsEntry {
  char name[kPathCapacity];
  bool spelled;
  FsInfo info;
};
struct FsListing;
// Opens the listing of folder; nullptr when it cannot be read (why:
// NotFound when there is no such folder).
FsListing* FsListOpen(const char* folder, FsFailure* why = nullptr);
enum class FsListed { Entry, End, Failed };
FsListed FsListNext(FsListing* listing, FsEntry* entry);
void FsListClose(FsListing* listing);
