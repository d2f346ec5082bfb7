// The update engine's file calls over Win32: the UTF-16 calls on paths
// converted from code page 932 (base/wide_text_win32.h). The calls by handle
// that the oldest systems lack (SetFileInformationByHandle,
// GetFinalPathNameByHandleW) are looked up at run time; where they are
// missing, the calls by path take their place.
#include "base/file_system.h"

#include <aclapi.h>
#include <winternl.h>

#include "base/wide_text_win32.h"

// The open file: its handle, and what the calls by path need where the
// calls by handle are missing.
struct FsFile {
  HANDLE handle;
  FsMode mode;
  bool folder;
  wchar_t path[kWideCapacity];  // follows FsRename
};

// A listing holds the entry the system found first until it is asked for.
struct FsListing {
  HANDLE search;  // INVALID_HANDLE_VALUE: nothing in the folder
  bool pending;
  WIN32_FIND_DATAW first;
};

namespace {

// FILE_INFO_BY_HANDLE_CLASS values and their structures, which the headers
// declare only for newer systems than the one the program is built for.
constexpr int kBasicInfo = 0;        // FileBasicInfo
constexpr int kRenameInfo = 3;       // FileRenameInfo
constexpr int kDispositionInfo = 4;  // FileDispositionInfo

struct BasicInfo {  // FILE_BASIC_INFO: 0 in a field keeps what is there
  LARGE_INTEGER created;
  LARGE_INTEGER accessed;
  LARGE_INTEGER written;
  LARGE_INTEGER changed;
  DWORD attributes;
};
struct RenameInfo {  // FILE_RENAME_INFO with room for any converted path
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  DWORD nameLength;  // in bytes, without the terminator
  wchar_t name[kWideCapacity];
};
struct DispositionInfo {  // FILE_DISPOSITION_INFO
  BOOLEAN deleteFile;
};

using SetInfoFunction = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// A function of kernel32 (loaded in every process), or nullptr.
void* Kernel32(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel ? reinterpret_cast<void*>(GetProcAddress(kernel, name)) : nullptr;
}
SetInfoFunction SetInfoByHandle() {
  return reinterpret_cast<SetInfoFunction>(Kernel32("SetFileInformationByHandle"));
}

FsFailure FailureOf(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FsFailure::NotFound;
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return FsFailure::Exists;
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return FsFailure::InUse;
  return FsFailure::Other;
}

// CreateFileW's arguments for each FsMode, in its order.
struct OpenArguments {
  DWORD access;
  DWORD share;
  DWORD disposition;
  DWORD flags;
};
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kShareData = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kLook = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kOwn = GENERIC_READ | GENERIC_WRITE | DELETE;
// Look and Change open folders too. Every mode follows links: what is opened
// is what the path leads to, and FsWhere tells where that is.
constexpr DWORD kFolders = FILE_FLAG_BACKUP_SEMANTICS;
constexpr OpenArguments kOpen[] = {
    {kLook, kShareAll, OPEN_EXISTING, kFolders},                                   // Look
    {kLook | DELETE | FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING, kFolders},  // Change
    {GENERIC_READ, kShareData, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},              // Read
    {GENERIC_WRITE, kShareData, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},             // Write
    {kOwn | READ_CONTROL | WRITE_DAC, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL},       // Create
    {kOwn, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},                               // Own
};

uint64_t Number(const FILETIME& time) {
  return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}
FILETIME Time(uint64_t number) {
  return {static_cast<DWORD>(number), static_cast<DWORD>(number >> 32)};
}
// From any of the system's records that name these fields alike
// (BY_HANDLE_FILE_INFORMATION, WIN32_FILE_ATTRIBUTE_DATA, WIN32_FIND_DATAW).
template <typename Data>
void ToInfo(const Data& data, FsInfo* info) {
  info->attributes = data.dwFileAttributes;
  info->times = {Number(data.ftCreationTime), Number(data.ftLastAccessTime),
                 Number(data.ftLastWriteTime)};
  info->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

bool StartsWith(const wchar_t* text, const wchar_t* start) {
  for (; *start; ++text, ++start)
    if (*text != *start) return false;
  return true;
}

// True when nothing is at path any more.
bool NameGone(const wchar_t* path) {
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return false;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

FsFile* FsOpen(const char* path, FsMode mode, FsFailure* why) {
  FsFailure failure = FsFailure::Other;
  Wide wide(path);
  FsFile* file = nullptr;
  if (wide.ok && path) {
    const OpenArguments& open = kOpen[static_cast<int>(mode)];
    HANDLE handle = CreateFileW(wide.text, open.access, open.share, nullptr, open.disposition,
                                open.flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      failure = FailureOf(GetLastError());
    } else {
      file = static_cast<FsFile*>(HeapAlloc(GetProcessHeap(), 0, sizeof(FsFile)));
      if (!file) {
        CloseHandle(handle);
      } else {
        file->handle = handle;
        file->mode = mode;
        lstrcpynW(file->path, wide.text, kWideCapacity);
        // Only Look and Change open folders.
        BY_HANDLE_FILE_INFORMATION data;
        file->folder = (mode == FsMode::Look || mode == FsMode::Change) &&
                       GetFileInformationByHandle(handle, &data) &&
                       (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        failure = FsFailure::None;
      }
    }
  }
  if (why) *why = failure;
  return file;
}

namespace {

// NtCreateFile with a folder's handle as the root: the kernel creates the
// name in that folder, never again by path. nullptr with why, or, where the
// system lacks the call, a create by path.
FsFile* CreateRelative(FsFile* folder, const char* name, const char* path, FsMode mode,
                       bool asFolder, FsFailure* why) {
  using CreateFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*,
                                       LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
  static CreateFunction create = nullptr;
  static bool looked = false;
  if (!looked) {
    looked = true;
    if (HMODULE ntdll = GetModuleHandleW(L"ntdll.dll"))
      create = reinterpret_cast<CreateFunction>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
  }
  if (!create || !folder) {
    if (!asFolder) return FsOpen(path, mode, why);
    return FsCreateFolder(path) ? FsOpen(path, mode, why) : nullptr;
  }
  Wide wide(name), widePath(path);
  if (why) *why = FsFailure::Other;
  if (!wide.ok || !name || !widePath.ok || !path) return nullptr;
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(wide.text);
  text.Length = static_cast<USHORT>(lstrlenW(wide.text) * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder->handle, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const OpenArguments& open = kOpen[static_cast<int>(mode)];
  ULONG options = (asFolder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE) |
                  FILE_SYNCHRONOUS_IO_NONALERT;
  LONG status = create(&handle, open.access | SYNCHRONIZE, &attributes, &io, nullptr,
                       FILE_ATTRIBUTE_NORMAL, open.share, FILE_CREATE, options, nullptr, 0);
  if (status < 0) {
    // STATUS_OBJECT_NAME_COLLISION, STATUS_SHARING_VIOLATION, not found.
    if (why) {
      *why = status == static_cast<LONG>(0xC0000035)   ? FsFailure::Exists
             : status == static_cast<LONG>(0xC0000043) ? FsFailure::InUse
             : status == static_cast<LONG>(0xC0000034) || status == static_cast<LONG>(0xC000003A)
                 ? FsFailure::NotFound
                 : FsFailure::Other;
    }
    return nullptr;
  }
  auto* file = static_cast<FsFile*>(HeapAlloc(GetProcessHeap(), 0, sizeof(FsFile)));
  if (!file) {
    CloseHandle(handle);
    return nullptr;
  }
  file->handle = handle;
  file->mode = mode;
  file->folder = asFolder;
  lstrcpynW(file->path, widePath.text, kWideCapacity);
  if (why) *why = FsFailure::None;
  return file;
}

}  // namespace

FsFile* FsCreateIn(FsFile* folder, const char* name, const char* path, FsFailure* why) {
  return CreateRelative(folder, name, path, FsMode::Create, false, why);
}

FsFile* FsCreateFolderIn(FsFile* folder, const char* name, const char* path) {
  return CreateRelative(folder, name, path, FsMode::Look, true, nullptr);
}

bool FsClose(FsFile* file) {
  if (!file) return true;
  bool closed = CloseHandle(file->handle);
  HeapFree(GetProcessHeap(), 0, file);
  return closed;
}

bool FsRead(FsFile* file, uint64_t offset, void* data, uint32_t length, uint32_t* read) {
  // Writes go on behind the last bytes written: the position comes back.
  LARGE_INTEGER zero{}, at{}, was{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD done = 0;
  bool ok = SetFilePointerEx(file->handle, zero, &was, FILE_CURRENT) &&
            SetFilePointerEx(file->handle, at, nullptr, FILE_BEGIN) &&
            ReadFile(file->handle, data, length, &done, nullptr);
  ok = SetFilePointerEx(file->handle, was, nullptr, FILE_BEGIN) && ok;
  *read = ok ? done : 0;
  return ok;
}

bool FsWrite(FsFile* file, const void* data, uint32_t length) {
  DWORD done = 0;
  return WriteFile(file->handle, data, length, &done, nullptr) && done == length;
}

bool FsFlush(FsFile* file) { return FlushFileBuffers(file->handle); }

bool FsFileInfo(FsFile* file, FsInfo* info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(file->handle, &data)) return false;
  ToInfo(data, info);
  return true;
}

bool FsSetInfo(FsFile* file, uint32_t attributes, const FsTimes* times) {
  // kFsNormal alone means "no other attribute", which on a folder is a plain
  // folder.
  if (file->folder && attributes) attributes = (attributes & ~kFsNormal) | kFsFolder;
  if (SetInfoFunction setInfo = SetInfoByHandle()) {
    BasicInfo basic{};
    if (times) {
      basic.created.QuadPart = static_cast<LONGLONG>(times->created);
      basic.accessed.QuadPart = static_cast<LONGLONG>(times->accessed);
      basic.written.QuadPart = static_cast<LONGLONG>(times->written);
    }
    basic.attributes = attributes;
    return setInfo(file->handle, kBasicInfo, &basic, sizeof basic);
  }
  if (times) {
    FILETIME created = Time(times->created), accessed = Time(times->accessed),
             written = Time(times->written);
    if (!SetFileTime(file->handle, &created, &accessed, &written)) return false;
  }
  if (!attributes) return true;
  // SetFileAttributesW takes no folder bit; kFsNormal alone is a plain one.
  DWORD byPath = attributes & ~kFsFolder;
  return SetFileAttributesW(file->path, byPath ? byPath : FILE_ATTRIBUTE_NORMAL);
}

bool FsRename(FsFile* file, const char* to, bool replace) {
  Wide wide(to);
  if (!wide.ok || !to) return false;
  if (SetInfoFunction setInfo = SetInfoByHandle()) {
    // The whole path and no root folder: the form every system takes.
    RenameInfo rename;
    rename.replaceIfExists = replace ? TRUE : FALSE;
    rename.rootDirectory = nullptr;
    lstrcpynW(rename.name, wide.text, kWideCapacity);
    rename.nameLength = static_cast<DWORD>(lstrlenW(rename.name)) * sizeof(wchar_t);
    if (!setInfo(file->handle, kRenameInfo, &rename, sizeof rename)) return false;
    lstrcpynW(file->path, wide.text, kWideCapacity);
    return true;
  }
  // By path: a file open without sharing (Create, Own) is closed for the
  // move and opened again under its new name.
  const OpenArguments& open = kOpen[static_cast<int>(file->mode)];
  bool exclusive = open.share == 0;
  if (exclusive) CloseHandle(file->handle);
  bool moved = MoveFileExW(file->path, wide.text, replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (moved) lstrcpynW(file->path, wide.text, kWideCapacity);
  if (exclusive) {
    file->handle = CreateFileW(file->path, open.access, open.share, nullptr, OPEN_EXISTING,
                               open.flags, nullptr);
    // Writes go on behind the bytes already there.
    LARGE_INTEGER zero{};
    if (file->handle != INVALID_HANDLE_VALUE)
      SetFilePointerEx(file->handle, zero, nullptr, FILE_END);
  }
  return moved && file->handle != INVALID_HANDLE_VALUE;
}

bool FsRenameInto(FsFile* file, FsFile* into, const char* name, const char* to) {
  Wide wide(name), widePath(to);
  if (!wide.ok || !name || !widePath.ok || !to) return false;
  // NtSetInformationFile with FileRenameInformation (10) and the folder's
  // handle as its root: the kernel resolves the name in that folder, never
  // again by path. (kernel32's SetFileInformationByHandle may turn the name
  // into a path of the current folder first, so ntdll's call is taken.)
  using SetInformation = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, int);
  static SetInformation setInformation = nullptr;
  static bool looked = false;
  if (!looked) {
    looked = true;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll)
      setInformation = reinterpret_cast<SetInformation>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
  }
  if (setInformation) {
    RenameInfo rename;
    rename.replaceIfExists = FALSE;
    rename.rootDirectory = into->handle;
    lstrcpynW(rename.name, wide.text, kWideCapacity);
    rename.nameLength = static_cast<DWORD>(lstrlenW(rename.name)) * sizeof(wchar_t);
    struct {
      LONG status;
      ULONG_PTR information;
    } io{};
    constexpr int kRenameInformation = 10;
    LONG status = setInformation(file->handle, &io, &rename, sizeof rename, kRenameInformation);
    if (status >= 0) {
      lstrcpynW(file->path, widePath.text, kWideCapacity);
      return true;
    }
    // Only a system that does not take the form falls back to the path:
    // STATUS_INVALID_PARAMETER, _NOT_IMPLEMENTED, _NOT_SUPPORTED,
    // _INVALID_INFO_CLASS.
    constexpr LONG kRefused[] = {static_cast<LONG>(0xC000000D), static_cast<LONG>(0xC0000002),
                                 static_cast<LONG>(0xC00000BB), static_cast<LONG>(0xC0000003)};
    bool refused = false;
    for (LONG code : kRefused) refused = refused || status == code;
    if (!refused) return false;
  }
  return FsRename(file, to, false);
}

bool FsDelete(FsFile* file) {
  if (!file) return false;
  SetInfoFunction setInfo = SetInfoByHandle();
  // The system refuses a read-only file either way.
  if (setInfo) {
    DispositionInfo disposition{TRUE};
    setInfo(file->handle, kDispositionInfo, &disposition, sizeof disposition);
  }
  wchar_t path[kWideCapacity];
  lstrcpynW(path, file->path, kWideCapacity);
  bool folder = file->folder;
  FsClose(file);
  if (!setInfo) folder ? RemoveDirectoryW(path) : DeleteFileW(path);
  // Another open of the file keeps its name until that is closed too.
  return NameGone(path);
}

FsWhereResult FsWhere(FsFile* file, char (&place)[kPlaceCapacity]) {
  place[0] = '\0';
  auto finalPath = reinterpret_cast<FinalPathFunction>(Kernel32("GetFinalPathNameByHandleW"));
  if (!finalPath) return FsWhereResult::Unknown;
  // A path longer than this cannot fit place as UTF-8 either.
  constexpr DWORD kCapacity = kPlaceCapacity + 8;
  wchar_t wide[kCapacity];
  DWORD n = finalPath(file->handle, wide, kCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= kCapacity) return FsWhereResult::Failed;
  // "\\?\C:\..." becomes "C:\...", "\\?\UNC\server\..." "\\server\...".
  wchar_t* text = wide;
  if (StartsWith(wide, L"\\\\?\\UNC\\")) {
    text = wide + 6;
    text[0] = L'\\';
  } else if (StartsWith(wide, L"\\\\?\\")) {
    text = wide + 4;
  }
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, place, kPlaceCapacity, nullptr, nullptr) == 0) {
    place[0] = '\0';
    return FsWhereResult::Failed;
  }
  return FsWhereResult::Known;
}

bool FsGetInfo(const char* path, FsInfo* info, FsFailure* why) {
  Wide wide(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!wide.ok || !path) {
    if (why) *why = FsFailure::Other;
    return false;
  }
  if (!GetFileAttributesExW(wide.text, GetFileExInfoStandard, &data)) {
    if (why) *why = FailureOf(GetLastError());
    return false;
  }
  if (why) *why = FsFailure::None;
  ToInfo(data, info);
  return true;
}

namespace {

// The SIDs a private file or folder admits: the process's user, the
// Administrators group and the system.
struct Trusted {
  union {
    TOKEN_USER user;
    uint8_t userBytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  };
  uint8_t admins[SECURITY_MAX_SID_SIZE];
  uint8_t system[SECURITY_MAX_SID_SIZE];
  bool ok;
};

Trusted TrustedSids() {
  Trusted t{};
  HANDLE token = nullptr;
  DWORD size = 0;
  DWORD adminsSize = sizeof t.admins, systemSize = sizeof t.system;
  t.ok = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
         GetTokenInformation(token, TokenUser, t.userBytes, sizeof t.userBytes, &size) &&
         CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, t.admins, &adminsSize) &&
         CreateWellKnownSid(WinLocalSystemSid, nullptr, t.system, &systemSize);
  if (token) CloseHandle(token);
  return t;
}

bool IsTrusted(Trusted& t, PSID sid) {
  return EqualSid(sid, t.user.User.Sid) || EqualSid(sid, t.admins) || EqualSid(sid, t.system);
}

// A protected access list (nothing inherited) of full access for the three.
struct PrivateAcl {
  union {
    ACL acl;
    uint8_t bytes[sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
  };
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
  Trusted sids;
  bool ok;
};

bool MakePrivateAcl(PrivateAcl* p) {
  p->sids = TrustedSids();
  p->ok = p->sids.ok && InitializeAcl(&p->acl, sizeof p->bytes, ACL_REVISION);
  PSID sids[] = {p->sids.user.User.Sid, p->sids.admins, p->sids.system};
  for (PSID sid : sids)
    p->ok = p->ok && AddAccessAllowedAceEx(&p->acl, ACL_REVISION,
                                           OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                           GENERIC_ALL, sid);
  p->ok = p->ok && InitializeSecurityDescriptor(&p->descriptor, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&p->descriptor, TRUE, &p->acl, FALSE) &&
          SetSecurityDescriptorControl(&p->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  p->attributes = {sizeof p->attributes, &p->descriptor, FALSE};
  return p->ok;
}

// The rights that change a file or what a folder holds, or who may.
constexpr DWORD kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                  FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

}  // namespace

bool FsCreateFolder(const char* path, bool privateAccess) {
  Wide wide(path);
  if (!wide.ok || !path) return false;
  PrivateAcl acl;
  if (privateAccess && !MakePrivateAcl(&acl)) return false;
  return CreateDirectoryW(wide.text, privateAccess ? &acl.attributes : nullptr);
}

bool FsMakePrivate(FsFile* file) {
  PrivateAcl acl;
  return MakePrivateAcl(&acl) &&
         SetSecurityInfo(file->handle, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, &acl.acl, nullptr) == ERROR_SUCCESS;
}

FsAccess FsAccessOf(FsFile* file) {
  // A volume without access lists (FAT) lets everyone do everything: there
  // is nothing to tell.
  using VolumeInfo = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
  auto volumeInfo =
      reinterpret_cast<VolumeInfo>(Kernel32("GetVolumeInformationByHandleW"));
  DWORD flags = 0;
  if (volumeInfo && volumeInfo(file->handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
      !(flags & FILE_PERSISTENT_ACLS))
    return FsAccess::Unknown;
  // The access list is read on a second handle to the same file (the first
  // may lack the right to read it), proved the same by its volume and index.
  HANDLE reader = CreateFileW(file->path, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, kFolders, nullptr);
  if (reader == INVALID_HANDLE_VALUE) return FsAccess::Shared;
  BY_HANDLE_FILE_INFORMATION a, b;
  bool same = GetFileInformationByHandle(file->handle, &a) &&
              GetFileInformationByHandle(reader, &b) &&
              a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
              a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool read = same && GetSecurityInfo(reader, SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &owner, nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS;
  CloseHandle(reader);
  Trusted sids = TrustedSids();
  // No access list at all lets everyone in.
  bool trusted = read && sids.ok && owner && dacl && IsTrusted(sids, owner);
  for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) {
      trusted = false;
      break;
    }
    // Deny entries take nothing away from the check; entries that only
    // pass to what the folder will hold do not apply to it.
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->AceFlags & INHERIT_ONLY_ACE)) {
      trusted = ace->AceType == ACCESS_DENIED_ACE_TYPE || ace->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                ace->AceType == SYSTEM_AUDIT_ACE_TYPE;
      continue;
    }
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kChangingRights) && !IsTrusted(sids, &allowed->SidStart)) trusted = false;
  }
  if (descriptor) LocalFree(descriptor);
  return trusted ? FsAccess::Private : FsAccess::Shared;
}

namespace {

// A found entry: its name only when code page 932 holds it exactly. The
// short (8.3) name is not taken: it names the file here, but not the copy
// of it that the engine makes elsewhere.
void ToEntry(const WIN32_FIND_DATAW& found, FsEntry* entry) {
  entry->spelled = ToCodePage932(found.cFileName, -1, entry->name, sizeof entry->name) > 0;
  if (!entry->spelled) CopyText(entry->name, "?");  // no file call accepts it
  ToInfo(found, &entry->info);
}

bool IsDots(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace

FsListing* FsListOpen(const char* folder, FsFailure* why) {
  Wide wide(folder);
  if (why) *why = FsFailure::Other;
  if (!wide.ok || !folder) return nullptr;
  // folder joined with "*", in UTF-16, where a separator is a separator
  // (in code page 932, 0x5C may be a character's second byte).
  wchar_t pattern[kWideCapacity + 2];
  int length = lstrlenW(wide.text);
  lstrcpynW(pattern, wide.text, kWideCapacity);
  if (length > 0 && pattern[length - 1] != L'\\' && pattern[length - 1] != L'/')
    pattern[length++] = L'\\';
  pattern[length++] = L'*';
  pattern[length] = L'\0';
  auto* listing = static_cast<FsListing*>(HeapAlloc(GetProcessHeap(), 0, sizeof(FsListing)));
  if (!listing) return nullptr;
  listing->search = FindFirstFileW(pattern, &listing->first);
  listing->pending = listing->search != INVALID_HANDLE_VALUE;
  // A folder with nothing in it, not even "." (a drive's root), is listed
  // empty; a folder that is not there is not listed.
  DWORD error = listing->pending ? ERROR_SUCCESS : GetLastError();
  if (!listing->pending && error != ERROR_FILE_NOT_FOUND) {
    HeapFree(GetProcessHeap(), 0, listing);
    if (why) *why = FailureOf(error);
    return nullptr;
  }
  if (why) *why = FsFailure::None;
  return listing;
}

FsListed FsListNext(FsListing* listing, FsEntry* entry) {
  if (listing->search == INVALID_HANDLE_VALUE) return FsListed::End;
  WIN32_FIND_DATAW found;
  do {
    if (listing->pending) {
      found = listing->first;
      listing->pending = false;
    } else if (!FindNextFileW(listing->search, &found)) {
      return GetLastError() == ERROR_NO_MORE_FILES ? FsListed::End : FsListed::Failed;
    }
  } while (IsDots(found.cFileName));
  ToEntry(found, entry);
  return FsListed::Entry;
}

void FsListClose(FsListing* listing) {
  if (!listing) return;
  if (listing->search != INVALID_HANDLE_VALUE) FindClose(listing->search);
  HeapFree(GetProcessHeap(), 0, listing);
}
