// The update engine's file calls against the real system, on files made
// with the plain UTF-16 calls: sharing, failures, data, attributes and
// times, renaming and deleting by handle, places and listings.
#include "base/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <set>
#include <string>
#include <tuple>

#include "tests/support/test_files.h"

namespace {

constexpr FsTimes kTimes = {0x01C0A1B2C3D4E5F0, 0x01D0A1B2C3D4E5F0, 0x01D5A1B2C3D4E5F0};

std::wstring Wide(const std::string& cp932) {
  wchar_t wide[MAX_PATH];
  int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.c_str(), -1, wide, MAX_PATH);
  return n > 0 ? wide : L"";
}

// Makes a file that holds data, or a folder (data nullptr).
bool Make(const std::wstring& path, const char* data = "data") {
  if (!data) return CreateDirectoryW(path.c_str(), nullptr);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  DWORD done = 0, length = lstrlenA(data);
  bool ok = WriteFile(h, data, length, &done, nullptr) && done == length;
  CloseHandle(h);
  return ok;
}
// A file's size, or -1 when nothing is there.
int64_t Size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return (int64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Wine keeps no creation time on a Unix file system: there it cannot be set
// and goes unchecked.
bool CreationTimesKept(const std::string& folder) {
  HANDLE h = CreateFileW((Wide(folder) + L"\\probe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  FILETIME set = {0x12345670, 0x01C00000}, got{};
  bool kept = SetFileTime(h, &set, nullptr, nullptr) && GetFileTime(h, &got, nullptr, nullptr) &&
              CompareFileTime(&set, &got) == 0;
  CloseHandle(h);
  return kept;
}

struct FileSystemTest : testing::Test {
  std::string dir = MakeScratchFolder("fs");
  std::string At(const std::string& name) const { return dir + "\\" + name; }
  std::wstring W(const std::string& name) const { return Wide(At(name)); }
};

const char* const kModeNames[] = {"Look", "Change", "Read", "Write", "Create", "Own", "nothing"};

}  // namespace

// What an open of a file gets while another is open: o opens, u fails with
// InUse, e with Exists, n with NotFound. Sharing governs reading, writing
// and deleting only, so Look (attributes only) is never refused and refuses
// nothing; Read and Write do not share with Change, which deletes.
TEST_F(FileSystemTest, ModesShareAsTheSystemDoes) {
  const char* expected[] = {
      // then: Look Change Read Write Create Own
      "ooooeo",  // first Look
      "oouueu",  // first Change
      "ouooeu",  // first Read
      "ouooeu",  // first Write
      "ouuueu",  // first Create
      "ouuueu",  // first Own
      "nnnnon",  // nothing there
  };
  for (int first = 0; first < 7; ++first) {
    std::string path = At(kModeNames[first]);
    ASSERT_TRUE(first == 4 || first == 6 || Make(Wide(path)));
    FsFile* held = first < 6 ? FsOpen(path.c_str(), static_cast<FsMode>(first)) : nullptr;
    ASSERT_EQ(held != nullptr, first < 6);
    for (int then = 0; then < 6; ++then) {
      char want = expected[first][then];
      FsFailure why = FsFailure::Other;
      FsFile* other = FsOpen(path.c_str(), static_cast<FsMode>(then), &why);
      EXPECT_EQ(why, want == 'u'   ? FsFailure::InUse
                     : want == 'e' ? FsFailure::Exists
                     : want == 'n' ? FsFailure::NotFound
                                   : FsFailure::None)
          << kModeNames[first] << ", then " << kModeNames[then];
      EXPECT_EQ(other != nullptr, want == 'o');
      first == 6 ? FsDelete(other) : FsClose(other);  // what Create made goes
    }
    EXPECT_TRUE(FsClose(held));
  }
  FsFailure why = FsFailure::None;
  EXPECT_EQ(FsOpen(At("no folder\\new").c_str(), FsMode::Create, &why), nullptr);
  EXPECT_EQ(why, FsFailure::NotFound);
}

TEST_F(FileSystemTest, WritesAndReadsBack) {
  std::string path = At("data.bin");
  FsFile* file = FsOpen(path.c_str(), FsMode::Create);
  FsInfo info{};
  ASSERT_TRUE(FsWrite(file, "hello world", 11) && FsFlush(file) && FsFileInfo(file, &info));
  EXPECT_EQ(info.size, 11u);
  EXPECT_TRUE(FsClose(file));
  file = FsOpen(path.c_str(), FsMode::Write);
  EXPECT_TRUE(FsWrite(file, "HELLO", 5) && FsClose(file));  // from the start, over what is there
  file = FsOpen(path.c_str(), FsMode::Read);
  char buffer[32];
  uint32_t read = 0;
  const std::tuple<uint64_t, uint32_t, std::string> reads[] = {
      {0, 4, "HELL"}, {4, 32, "O world"}, {11, 32, ""}, {1, 3, "ELL"}};
  for (const auto& [offset, length, wanted] : reads) {
    EXPECT_TRUE(FsRead(file, offset, buffer, length, &read));
    EXPECT_EQ(std::string(buffer, read), wanted);
  }
  EXPECT_FALSE(FsWrite(file, "x", 1));  // opened to read only
  EXPECT_TRUE(FsClose(file));
}

TEST_F(FileSystemTest, SetInfoSetsWhatItIsGivenAndKeepsTheRest) {
  struct Case {
    const char* name;
    bool folder;
    uint32_t before;  // attributes set first (0: as made)
    uint32_t set;
    const FsTimes* times;
    uint32_t after;  // read-only, hidden and folder bits
  };
  const Case cases[] = {
      {"times only", false, 0, 0, &kTimes, 0},
      {"nothing", false, kFsHidden, 0, nullptr, kFsHidden},
      {"read-only set", false, 0, kFsReadOnly, nullptr, kFsReadOnly},
      {"read-only cleared", false, kFsReadOnly, kFsNormal, nullptr, 0},
      {"folder hidden", true, 0, kFsHidden, &kTimes, kFsFolder | kFsHidden},
      {"folder plain", true, kFsHidden, kFsNormal, nullptr, kFsFolder},
  };
  bool created = CreationTimesKept(dir);
  for (const Case& c : cases) {
    std::string path = At(c.name);
    ASSERT_TRUE(Make(Wide(path), c.folder ? nullptr : "data"));
    ASSERT_TRUE(!c.before || SetFileAttributesW(Wide(path).c_str(), c.before));
    FsInfo before{}, after{};
    ASSERT_TRUE(FsGetInfo(path.c_str(), &before));
    FsFile* file = FsOpen(path.c_str(), FsMode::Change);
    EXPECT_TRUE(FsSetInfo(file, c.set, c.times)) << c.name;
    EXPECT_TRUE(FsClose(file));
    ASSERT_TRUE(FsGetInfo(path.c_str(), &after));
    EXPECT_EQ(after.attributes & (kFsReadOnly | kFsHidden | kFsFolder), c.after) << c.name;
    const FsTimes& times = c.times ? *c.times : before.times;
    EXPECT_TRUE(!created || after.times.created == times.created) << c.name;
    EXPECT_EQ(after.times.accessed, times.accessed) << c.name;
    EXPECT_EQ(after.times.written, times.written) << c.name;
    SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST_F(FileSystemTest, RenameMovesTheOpenFile) {
  std::string from = At("from.txt"), to = At("表\\to.txt"), taken = At("taken.txt");
  ASSERT_TRUE(Make(W("from.txt"), "contents") && Make(W("taken.txt"), "other"));
  ASSERT_TRUE(Make(W("表"), nullptr));
  FsFile* file = FsOpen(from.c_str(), FsMode::Change);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(FsSetInfo(file, 0, &kTimes));
  EXPECT_FALSE(FsRename(file, taken.c_str()));  // something is there
  EXPECT_EQ(Size(taken), 5);
  ASSERT_TRUE(FsRename(file, to.c_str()));
  EXPECT_EQ(Size(from), -1);
  EXPECT_EQ(Size(to), 8);
  FsInfo info{};  // the handle still works, at the new name
  ASSERT_TRUE(FsFileInfo(file, &info));
  EXPECT_EQ(info.times.written, kTimes.written);
  EXPECT_TRUE(FsRename(file, from.c_str()));
  EXPECT_TRUE(FsClose(file));
  EXPECT_EQ(Size(from), 8);
}

// A rename into an open folder lands in that folder, even once its path
// leads to another one (the folder renamed away, a new one in its place):
// the folder checked is the folder the file goes into. Wine resolves the
// name by the folder's path as it was opened instead, so there it lands in
// the new folder (the window docs/design-decisions.md lists). A taken name
// fails.
TEST_F(FileSystemTest, RenameIntoAnOpenFolderFollowsTheFolderNotItsPath) {
  bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  ASSERT_TRUE(Make(W("a.txt"), "contents") && Make(W("表"), nullptr));
  FsFile* folder = FsOpen(At("表").c_str(), FsMode::Look);
  FsFile* file = FsOpen(At("a.txt").c_str(), FsMode::Change);
  ASSERT_TRUE(folder && file);
  ASSERT_TRUE(MoveFileW(W("表").c_str(), W("moved").c_str()));
  ASSERT_TRUE(Make(W("表"), nullptr) && Make(W("表\\taken.txt"), "other"));
  EXPECT_TRUE(FsRenameInto(file, folder, "a.txt", At("表\\a.txt").c_str()));
  std::string landed = At(wine ? "表\\a.txt" : "moved\\a.txt");
  EXPECT_EQ(Size(landed), 8);
  EXPECT_EQ(Size(At(wine ? "moved\\a.txt" : "表\\a.txt")), -1);
  EXPECT_EQ(Size(At("a.txt")), -1);
  FsFile* other = FsOpen(At("表").c_str(), FsMode::Look);
  FsFile* back = FsOpen(landed.c_str(), FsMode::Change);
  ASSERT_TRUE(other && back);
  EXPECT_FALSE(FsRenameInto(back, other, "taken.txt", At("表\\taken.txt").c_str()));
  EXPECT_EQ(Size(At("表\\taken.txt")), 5);
  for (FsFile* f : {folder, file, other, back}) FsClose(f);
}

// Gives Everyone the right to change path (a file or a folder), as a game
// folder made under C:\ lets every user; false when the system keeps no such
// list there.
bool LetEveryoneChange(const std::wstring& path) {
  uint8_t everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size)) return false;
  EXPLICIT_ACCESSW access{};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  if (SetEntriesInAclW(1, &access, nullptr, &acl) != ERROR_SUCCESS) return false;
  DWORD result = SetNamedSecurityInfoW(const_cast<LPWSTR>(path.c_str()), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
  LocalFree(acl);
  return result == ERROR_SUCCESS;
}

// A file made private, and a folder made so, are Private (or Unknown where
// the volume keeps no lists); once Everyone may change them, Shared.
TEST_F(FileSystemTest, PrivateUntilOthersMayChangeIt) {
  FsFile* file = FsOpen(At("journal").c_str(), FsMode::Create);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(FsMakePrivate(file));
  ASSERT_TRUE(FsCreateFolder(At("work").c_str(), true));
  FsFile* folder = FsOpen(At("work").c_str(), FsMode::Look);
  ASSERT_NE(folder, nullptr);
  FsAccess fileAccess = FsAccessOf(file), folderAccess = FsAccessOf(folder);
  std::printf("access lists: %s\n", fileAccess == FsAccess::Unknown ? "not kept" : "kept");
  EXPECT_NE(fileAccess, FsAccess::Shared);
  EXPECT_EQ(folderAccess, fileAccess);
  if (fileAccess == FsAccess::Private) {
    ASSERT_TRUE(LetEveryoneChange(W("journal")) && LetEveryoneChange(W("work")));
    EXPECT_EQ(FsAccessOf(file), FsAccess::Shared);
    EXPECT_EQ(FsAccessOf(folder), FsAccess::Shared);
  }
  FsClose(folder);
  FsClose(file);
}

TEST_F(FileSystemTest, DeleteRemovesAFileOrAnEmptyFolderAndCloses) {
  const std::tuple<const char*, bool, uint32_t, bool> cases[] = {
      // name, folder, attributes, deleted
      {"file.txt", false, 0, true},
      {"empty", true, 0, true},
      {"read-only.txt", false, kFsReadOnly, false},
      {"full", true, 0, false},
  };
  ASSERT_TRUE(Make(W("full"), nullptr) && Make(W("full\\inside.txt")));
  for (const auto& [name, folder, attributes, deleted] : cases) {
    std::string path = At(name);
    ASSERT_TRUE(Size(path) >= 0 || Make(Wide(path), folder ? nullptr : "data"));
    ASSERT_TRUE(!attributes || SetFileAttributesW(Wide(path).c_str(), attributes));
    EXPECT_EQ(FsDelete(FsOpen(path.c_str(), FsMode::Change)), deleted) << name;
    EXPECT_EQ(Size(path) >= 0, !deleted) << name;
    // Closed either way: an open that shares nothing succeeds.
    HANDLE alone = CreateFileW(Wide(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_EQ(alone != INVALID_HANDLE_VALUE, !deleted) << name;
    if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
    SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST_F(FileSystemTest, WhereGivesTheNamesAsStored) {
  ASSERT_TRUE(Make(W("Sub"), nullptr) && Make(W("Sub\\File 表.txt")));
  const std::tuple<const char*, FsMode> opens[] = {{"SUB\\file 表.TXT", FsMode::Look},
                                                   {"sub\\File 表.txt", FsMode::Read},
                                                   {"sub", FsMode::Look}};
  char places[3][kPlaceCapacity];
  for (int i = 0; i < 3; ++i) {
    FsFile* file = FsOpen(At(std::get<0>(opens[i])).c_str(), std::get<1>(opens[i]));
    ASSERT_NE(file, nullptr) << i;
    EXPECT_EQ(FsWhere(file, places[i]), FsWhereResult::Known);
    FsClose(file);
  }
  std::string place = places[0];
  std::string name = reinterpret_cast<const char*>(u8"\\File 表.txt");  // UTF-8
  EXPECT_EQ(place[1], ':') << place;
  EXPECT_EQ(place, std::string(places[2]) + name);
  EXPECT_EQ(place.substr(place.size() - name.size() - 4), "\\Sub" + name);
  EXPECT_STREQ(places[1], places[0]);
}

TEST_F(FileSystemTest, ListingSpellsOnlyWhatCodePage932Holds) {
  ASSERT_TRUE(Make(W("a.txt"), "12345") && Make(W("ソ表.txt")) && Make(W("empty"), nullptr));
  ASSERT_TRUE(Make(Wide(dir) + L"\\Zo\u00EB.txt"));  // no code page 932 form
  ASSERT_TRUE(Make(W("表"), nullptr) && Make(W("表\\inner.txt")));
  using Seen = std::tuple<std::string, bool, uint32_t, uint64_t>;  // name, spelled, folder, size
  auto list = [](const std::string& folder) {
    std::set<Seen> seen;
    FsEntry entry;
    FsListing* listing = FsListOpen(folder.c_str());
    while (listing && FsListNext(listing, &entry) == FsListed::Entry)
      seen.insert({entry.name, entry.spelled, entry.info.attributes & kFsFolder, entry.info.size});
    FsListClose(listing);
    return seen;
  };
  EXPECT_EQ(list(dir), (std::set<Seen>{{"a.txt", true, 0, 5},
                                       {"ソ表.txt", true, 0, 4},  // trail bytes 0x5C
                                       {"?", false, 0, 4},
                                       {"表", true, kFsFolder, 0},
                                       {"empty", true, kFsFolder, 0}}));
  // A folder whose path ends in a trail byte 0x5C is listed, not its parent.
  EXPECT_EQ(list(At("表")), (std::set<Seen>{{"inner.txt", true, 0, 4}}));
  EXPECT_EQ(list(At("表\\")), (std::set<Seen>{{"inner.txt", true, 0, 4}}));
  EXPECT_EQ(list(At("empty")), std::set<Seen>{});
  FsFailure why = FsFailure::None;
  EXPECT_EQ(FsListOpen(At("missing").c_str(), &why), nullptr);
  EXPECT_EQ(why, FsFailure::NotFound);
}
