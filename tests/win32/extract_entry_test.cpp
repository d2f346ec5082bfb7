// Extraction of package entries to real files: lookup, data offsets, the
// space check, corrupt entries, read-only files, file times and writes that
// fail part-way. Cases marked SmallDrive need a 1 MiB drive named by the
// environment variable FA2_SMALL_DRIVE (for example "S:") and skip without it.
#include "package/extract_entry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "package/block.h"
#include "package/open_package.h"
#include "package/package_digests.h"
#include "package/package_writer.h"
#include "tests/support/extraction_fakes_win32.h"
#include "tests/support/message_boxes_win32.h"
#include "tests/support/sample_bytes.h"
#include "tests/support/test_files.h"

namespace {

constexpr uint64_t kTime = 0x01C0A1B2C3D4E5F6;  // a FILETIME in 2000

struct Input {
  std::string name;
  Bytes data;
};

// A package held the way start-up holds the program's own: bytes in memory,
// the opened directory in updaterState.
struct LoadedPackage {
  Bytes bytes;
  UpdatePackage* package = nullptr;
  ~LoadedPackage() {
    FreeBlock(package);
    ResetUpdaterState();
  }
};

Bytes Build(const std::vector<Input>& inputs, bool store) {
  std::vector<PackageInput> in;
  for (const Input& i : inputs) in.push_back({i.name, kTime, i.data.data(), i.data.size()});
  PackageOptions options;
  options.store = store;
  options.level = 1;
  options.compressDirectory = false;  // lets tests patch the directory in place
  Bytes out;
  std::string error;
  EXPECT_TRUE(BuildPackage(in, options, &out, &error)) << error;
  return out;
}

PackageEntry* EntryIn(Bytes& bytes, uint32_t index) {
  uint32_t directory;
  std::memcpy(&directory, bytes.data() + 8, 4);
  return reinterpret_cast<PackageEntry*>(bytes.data() + directory + index * kEntrySize);
}

void Load(LoadedPackage& p) {
  ResetUpdaterState();
  ResetExtractionFakes();
  p.package = OpenPackage(p.bytes.data(), static_cast<uint32_t>(p.bytes.size()));
  ASSERT_NE(p.package, nullptr);
  updaterState.packageBytes = p.bytes.data();
  updaterState.packageSize = static_cast<uint32_t>(p.bytes.size());
  updaterState.package = p.package;
  updaterState.entries = p.package->entries;
}

uint64_t AsNumber(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

Bytes Repeat(uint8_t byte, size_t n) { return Bytes(n, byte); }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<std::string> FolderListing(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::string n = found.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return names;
}

const char* SmallDrive() {
  const char* drive = std::getenv("FA2_SMALL_DRIVE");
  return drive && *drive ? drive : nullptr;
}

// Empties the small drive so every case starts from the same free space.
std::string CleanSmallDrive() {
  std::string root = std::string(SmallDrive()) + "\\";
  for (const std::string& name : FolderListing(root.substr(0, 2))) {
    SetFileAttributesA((root + name).c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA((root + name).c_str());
  }
  return root.substr(0, 2);
}

uint64_t RealAvailable(const std::string& root) {
  ULARGE_INTEGER available, total, free;
  EXPECT_TRUE(GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free));
  return available.QuadPart;
}

}  // namespace

TEST(ExtractEntry, FindsNamesWithoutRegardToCaseAndTakesTheFirstMatch) {
  LoadedPackage p;
  p.bytes = Build({{"UPDATE.INI", Text("first")}, {"update.ini", Text("second")},
                   {"Other.Dat", Text("other")}},
                  true);
  Load(p);
  std::string dir = MakeScratchFolder("lookup");
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("update.ini", (dir + "\\a").c_str()), 1);
  EXPECT_EQ(ExtractEntry("OTHER.DAT", (dir + "\\b").c_str()), 1);
  EXPECT_EQ(ReadWholeFile(dir + "\\a"), Text("first"));
  EXPECT_EQ(ReadWholeFile(dir + "\\b"), Text("other"));

  EXPECT_EQ(ExtractEntry("MISSING.DAT", (dir + "\\c").c_str()), 0);
  EXPECT_FALSE(FileExists(dir + "\\c"));
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, "Can't Find File in Resource !!");
  EXPECT_EQ(watcher.boxes[0].caption, "UPDATE");
  EXPECT_TRUE(watcher.boxes[0].errorIcon);
}

// Lookup folds the case of double-byte letters too, and never a second byte
// that looks like a letter (ア is 83 41, ャ is 83 61).
TEST(ExtractEntry, DoubleByteNamesAreFoundByCharacters) {
  LoadedPackage p;
  p.bytes = Build({{"ＧＡＭＥ.DAT", Text("full width")}, {"ア.DAT", Text("a")},
                   {"表.DAT", Text("hyo")}},
                  true);
  Load(p);
  std::string dir = MakeScratchFolder("dbcs");
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("ｇａｍｅ.dat", (dir + "\\1").c_str()), 1);
  EXPECT_EQ(ReadWholeFile(dir + "\\1"), Text("full width"));
  EXPECT_EQ(ExtractEntry("表.dat", (dir + "\\表").c_str()), 1);
  EXPECT_EQ(ReadWholeFile(dir + "\\表"), Text("hyo"));
  EXPECT_EQ(ExtractEntry("ャ.DAT", (dir + "\\2").c_str()), 0);
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, "Can't Find File in Resource !!");
}

TEST(ExtractEntry, DataOffsetsFollowThePaddedSizesOfEarlierEntries) {
  LoadedPackage p;
  Bytes seventeen = Repeat('c', 17), five = Text("delta");
  p.bytes = Build({{"EMPTY", {}}, {"SIXTEEN", Repeat('b', 16)}, {"SEVENTEEN", seventeen},
                   {"FIVE", five}},
                  true);
  // 16 (header) + 0 + 16 + 32: the last entry's bytes lie at 64.
  ASSERT_GE(p.bytes.size(), 69u);
  EXPECT_EQ(Bytes(p.bytes.begin() + 64, p.bytes.begin() + 69), five);
  Load(p);
  std::string dir = MakeScratchFolder("offsets");
  BoxWatcher watcher;
  const char* names[] = {"EMPTY", "SIXTEEN", "SEVENTEEN", "FIVE"};
  Bytes expected[] = {{}, Repeat('b', 16), seventeen, five};
  for (int i = 0; i < 4; ++i) {
    std::string path = dir + "\\" + names[i];
    EXPECT_EQ(ExtractEntry(names[i], path.c_str()), 1) << names[i];
    EXPECT_TRUE(FileExists(path)) << names[i];
    EXPECT_EQ(ReadWholeFile(path), expected[i]) << names[i];
  }
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(ExtractEntry, CompressedEntryIsDecodedAndAllThreeTimesAreTheEntrys) {
  LoadedPackage p;
  Bytes data;
  for (int i = 0; i < 5000; ++i) data.push_back(static_cast<uint8_t>("abcabd"[i % 6]));
  p.bytes = Build({{"GAME.DAT", data}}, false);
  ASSERT_TRUE(EntryIn(p.bytes, 0)->flags & kEntryFlagCompressed);
  Load(p);
  std::string dir = MakeScratchFolder("times");
  std::string path = dir + "\\GAME.DAT";
  ASSERT_TRUE(WriteWholeFile(path, Text("an older file of this name")));
  BoxWatcher watcher;
  ASSERT_EQ(ExtractEntry("GAME.DAT", path.c_str()), 1);
  EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"GAME.DAT"});  // no temporary left

  // Times first: reading the contents may move the last-access time.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(file, &created, &accessed, &written));
  CloseHandle(file);
  EXPECT_EQ(AsNumber(written), kTime);
  EXPECT_EQ(AsNumber(accessed), kTime);
  EXPECT_EQ(AsNumber(created), kTime);
  EXPECT_EQ(ReadWholeFile(path), data);
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(ExtractEntry, FolderAtTheDestinationFailsSilently) {
  LoadedPackage p;
  p.bytes = Build({{"SAVE", Text("data")}}, true);
  Load(p);
  std::string dir = MakeScratchFolder("folder");
  std::string path = dir + "\\SAVE";
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("SAVE", path.c_str()), 0);
  EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"SAVE"});
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(ExtractEntry, ReadOnlyFileIsReplacedAndNoLongerReadOnly) {
  LoadedPackage p;
  p.bytes = Build({{"GAME.EXE", Text("new contents")}}, true);
  Load(p);
  std::string dir = MakeScratchFolder("readonly");
  std::string path = dir + "\\GAME.EXE";
  ASSERT_TRUE(WriteWholeFile(path, Text("old")));
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ExtractEntry("GAME.EXE", path.c_str()), 1);
  EXPECT_EQ(ReadWholeFile(path), Text("new contents"));
  DWORD attributes = GetFileAttributesA(path.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
}

TEST(ExtractEntry, FailedReplaceLeavesTheOriginalAsItWasAndNoTemporary) {
  LoadedPackage p;
  p.bytes = Build({{"GAME.EXE", Text("new contents")}}, true);
  Load(p);
  std::string dir = MakeScratchFolder("replace");
  std::string path = dir + "\\GAME.EXE";
  Bytes original = Text("original\r\nbytes\0!");
  ASSERT_TRUE(WriteWholeFile(path, original));
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  // Another program holds the original open, sharing no deletion: the
  // replace cannot be done.
  HANDLE held =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("GAME.EXE", path.c_str()), 0);
  CloseHandle(held);
  EXPECT_EQ(ReadWholeFile(path), original);
  EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"GAME.EXE"});
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(ExtractEntry, DestinationOfAFullPathBufferOrMoreIsRefused) {
  LoadedPackage p;
  p.bytes = Build({{"A", Text("x")}}, true);
  Load(p);
  std::string dir = MakeScratchFolder("long");
  std::string path = dir + "\\" + std::string(259 - dir.size(), 'L');  // 260 bytes
  ASSERT_EQ(path.size(), 260u);
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("A", path.c_str()), 0);
  EXPECT_EQ(WriteFileWithTime(path.c_str(), "x", 1, nullptr), 0);
  EXPECT_TRUE(FolderListing(dir).empty());
  EXPECT_TRUE(watcher.boxes.empty());
}

// A destination of 259 bytes, the longest a path buffer holds, is written
// whatever the length of its base name: the temporary beside it must fit too.
TEST(ExtractEntry, DestinationOfTheLongestPathIsWritten) {
  LoadedPackage p;
  p.bytes = Build({{"A", Text("at the limit")}}, false);
  Load(p);
  std::string scratch = MakeScratchFolder("limit");
  BoxWatcher watcher;
  for (size_t nameLength : {11, 5, 1}) {
    SCOPED_TRACE(nameLength);
    std::string folder = scratch + "\\";
    folder += std::string(258 - nameLength - folder.size(), 'F');
    // A system that keeps folders shorter (248 bytes on Windows) skips the
    // cases it cannot hold.
    if (!CreateDirectoryA(folder.c_str(), nullptr)) continue;
    std::string path = folder + "\\" + std::string(nameLength, 'N');
    ASSERT_EQ(path.size(), 259u);
    EXPECT_EQ(ExtractEntry("A", path.c_str()), 1);
    EXPECT_EQ(ReadWholeFile(path), Text("at the limit"));
    EXPECT_EQ(FolderListing(folder), std::vector<std::string>{std::string(nameLength, 'N')});
    // Again, over the file now there.
    EXPECT_EQ(WriteFileWithTime(path.c_str(), "x", 1, nullptr), 1);
    EXPECT_EQ(ReadWholeFile(path), Text("x"));
    EXPECT_EQ(FolderListing(folder).size(), 1u);
  }
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(WriteFileWithTime, MissingFolderFailsWithoutCreatingAnything) {
  std::string dir = MakeScratchFolder("nofolder");
  EXPECT_EQ(WriteFileWithTime((dir + "\\NONE\\FILE").c_str(), "abc", 3, nullptr), 0);
  EXPECT_TRUE(FolderListing(dir).empty());
}

// Each patch spoils one thing about the entry "B" (compressed, or stored when
// `store`) in the opened directory, as a damaged block would hold it;
// extraction must refuse it and leave the destination as it was.
struct Corruption {
  const char* what;
  bool store;
  std::function<void(PackageEntry*)> patch;
};

TEST(ExtractEntry, CorruptAndOutOfRangeEntriesAreRejected) {
  Bytes data(3000, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>("0123456789"[i % 10]);
  std::vector<Corruption> cases = {
      {"stored bytes run past the package", true,
       [](PackageEntry* e) { e[1].storedSize = 0x100000; }},
      {"data offset wraps past 32 bits", true,
       [](PackageEntry* e) { e[0].storedSize = 0xFFFFFFF8u; }},
      {"stored size differs from the original size", true,
       [](PackageEntry* e) { e[1].originalSize -= 1; }},
      {"stream decodes to fewer bytes", false,
       [](PackageEntry* e) { e[1].originalSize += 1; }},
      {"stream decodes to more bytes", false,
       [](PackageEntry* e) { e[1].originalSize -= 1; }},
      {"stream ends before its end code", false,
       [](PackageEntry* e) { e[1].storedSize -= 1; }},
      {"compressed flag on plain bytes", true,
       [](PackageEntry* e) { e[1].flags |= kEntryFlagCompressed; }},
  };
  std::string dir = MakeScratchFolder("corrupt");
  std::string path = dir + "\\B";
  for (const Corruption& c : cases) {
    SCOPED_TRACE(c.what);
    LoadedPackage p;
    p.bytes = Build({{"A", Text("first")}, {"B", data}}, c.store);
    ASSERT_EQ((EntryIn(p.bytes, 1)->flags & kEntryFlagCompressed) != 0, !c.store);
    Load(p);
    c.patch(p.package->entries);
    ASSERT_TRUE(WriteWholeFile(path, Text("kept")));
    BoxWatcher watcher;
    EXPECT_EQ(ExtractEntry("B", path.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path), Text("kept"));
    EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"B"});
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].text, "RESOURCE READ ERROR");
    EXPECT_EQ(watcher.boxes[0].caption, "UPDATE");
  }
}

// With the digests of a made updater, an entry whose bytes in the package
// changed after they were taken (a damage its sizes do not show) is refused
// once it has decoded, stored or compressed, and the destination keeps what
// it held; the same entry undamaged is written.
TEST(ExtractEntry, EntryThatIsNotItsDigestsBytesIsRefused) {
  Bytes data = sample::MatchRich(70000, 3);
  std::string dir = MakeScratchFolder("digest");
  std::string path = dir + "\\B";
  for (bool store : {true, false}) {
    for (bool damaged : {false, true}) {
      SCOPED_TRACE(std::string(store ? "stored" : "compressed") + (damaged ? ", damaged" : ""));
      LoadedPackage p;
      p.bytes = Build({{"A", Text("first")}, {"B", data}}, store);
      Load(p);
      Bytes digests(2 * kSha256Size), buffer(kEntryBufferSize);
      for (uint32_t i = 0; i < 2; ++i)
        ASSERT_EQ(EntryDigest(p.package, i, p.bytes.data(), static_cast<uint32_t>(p.bytes.size()),
                              buffer.data(), *reinterpret_cast<uint8_t(*)[kSha256Size]>(&digests[i * kSha256Size])),
                  EntryDataOk);
      updaterState.entryDigests = digests.data();
      uint32_t offset = 0;
      ASSERT_TRUE(EntryDataOffset(p.package, 1, &offset));
      // A stored byte, or the first literal after a compressed entry's control word.
      if (damaged) p.bytes[offset + 4] ^= 0x01;
      ASSERT_TRUE(WriteWholeFile(path, Text("kept")));
      BoxWatcher watcher;
      EXPECT_EQ(ExtractEntry("B", path.c_str()), damaged ? 0 : 1);
      EXPECT_EQ(ReadWholeFile(path), damaged ? Text("kept") : data);
      EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"B"});
      std::vector<std::string> texts;
      for (const auto& box : watcher.boxes) texts.push_back(box.text);
      EXPECT_EQ(texts, damaged ? std::vector<std::string>{"RESOURCE READ ERROR"} : std::vector<std::string>{});
    }
  }
}

// Runs of random letters and repeats from up to 8,000 bytes back, several
// of the extraction's 1 MiB pieces long.
Bytes LargeEntry() { return sample::MatchRich(3 * 1048576 + 777, 99); }

TEST(ExtractEntry, EntryOfSeveralPiecesIsWrittenExactly) {
  const Bytes data = LargeEntry();
  for (bool store : {false, true}) {
    SCOPED_TRACE(store ? "stored" : "compressed");
    LoadedPackage p;
    p.bytes = Build({{"A", Text("first")}, {"BIG.DAT", data}}, store);
    Load(p);
    std::string dir = MakeScratchFolder(store ? "large-stored" : "large");
    std::string path = dir + "\\BIG.DAT";
    ASSERT_TRUE(WriteWholeFile(path, Text("an older, shorter file")));
    BoxWatcher watcher;
    ASSERT_EQ(ExtractEntry("BIG.DAT", path.c_str()), 1);
    EXPECT_TRUE(ReadWholeFile(path) == data);
    EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"BIG.DAT"});
    EXPECT_TRUE(watcher.boxes.empty());
  }
}

// The stream fails only in its last piece, after megabytes went to the
// temporary: the destination keeps every byte and the temporary goes.
TEST(ExtractEntry, CorruptionLateInALargeEntryLeavesTheOriginalIntact) {
  const Bytes data = LargeEntry();
  Bytes original(2 * 1048576 + 5);
  for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<uint8_t>(i * 7 + i / 3000);
  std::vector<Corruption> cases = {
      {"stream ends before its end code", false,
       [](PackageEntry* e) { e[1].storedSize -= 1; }},
      {"stream decodes to fewer bytes", false,
       [](PackageEntry* e) { e[1].originalSize += 1; }},
      {"stream decodes to more bytes", false,
       [](PackageEntry* e) { e[1].originalSize -= 1; }},
  };
  std::string dir = MakeScratchFolder("late");
  std::string path = dir + "\\BIG.DAT";
  for (const Corruption& c : cases) {
    SCOPED_TRACE(c.what);
    LoadedPackage p;
    p.bytes = Build({{"A", Text("first")}, {"BIG.DAT", data}}, false);
    Load(p);
    c.patch(p.package->entries);
    ASSERT_TRUE(WriteWholeFile(path, original));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    BoxWatcher watcher;
    EXPECT_EQ(ExtractEntry("BIG.DAT", path.c_str()), 0);
    EXPECT_TRUE(ReadWholeFile(path) == original);
    EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);  // never cleared
    EXPECT_EQ(FolderListing(dir), std::vector<std::string>{"BIG.DAT"});
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].text, "RESOURCE READ ERROR");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(ExtractEntry, ShortfallAbove2To31IsShownUnsigned) {
  LoadedPackage p;
  p.bytes = Build({{"BIG.DAT", Repeat('z', 4000)}}, false);
  EntryIn(p.bytes, 0)->originalSize = 3000001000u;  // fails the check before any decoding
  Load(p);
  CopyText(updaterState.caption, "ゲーム アップデート");
  FakeAvailableSpace(1000);
  std::string dir = MakeScratchFolder("shortfall");
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("BIG.DAT", (dir + "\\BIG.DAT").c_str()), 0);
  ResetExtractionFakes();
  EXPECT_TRUE(FolderListing(dir).empty());
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, "ディスク容量が足りません。" + dir.substr(0, 2) +
                                       " ドライブに 3000000000 バイトの空き容量が必要です");
  EXPECT_EQ(watcher.boxes[0].caption, "ゲーム アップデート");
}

TEST(ExtractEntry, FourGiBAvailableAlwaysPassesTheCheck) {
  LoadedPackage p;
  p.bytes = Build({{"BIG.DAT", Repeat('z', 4000)}}, false);
  EntryIn(p.bytes, 0)->originalSize = 0xFFFFFFFFu;
  Load(p);
  FakeAvailableSpace(uint64_t{4} << 30);
  // Past the space check comes the working buffer the entry is decoded
  // through; that it cannot be had is reported, and nothing is written.
  extractionFakes.allocationFails = true;
  std::string dir = MakeScratchFolder("fourgib");
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("BIG.DAT", (dir + "\\BIG.DAT").c_str()), 0);
  ResetExtractionFakes();
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text, "Can't Allocate Memory !!");
  EXPECT_EQ(GetFileAttributesA((dir + "\\BIG.DAT").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ExtractEntry, WithoutFreeSpaceFiguresTheCheckIsSkipped) {
  LoadedPackage p;
  p.bytes = Build({{"A.DAT", Text("written anyway")}}, true);
  Load(p);
  FailBothFreeSpaceQueries();
  uint64_t available = 7, total = 8, free = 9;
  EXPECT_EQ(QueryFreeSpace("C:", &available, &total, &free), 0);
  EXPECT_EQ(available, 7u);  // outputs untouched on failure
  EXPECT_EQ(total, 8u);
  EXPECT_EQ(free, 9u);
  std::string dir = MakeScratchFolder("nofigures");
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("A.DAT", (dir + "\\A.DAT").c_str()), 1);
  ResetExtractionFakes();
  EXPECT_EQ(ReadWholeFile(dir + "\\A.DAT"), Text("written anyway"));
  EXPECT_TRUE(watcher.boxes.empty());
}

TEST(QueryFreeSpace, FallbackFiguresGiveFreeEqualToAvailable) {
  ResetExtractionFakes();
  uint64_t available = 0, total = 0, free = 1;
  ASSERT_NE(QueryFreeSpace("C:", &available, &total, &free), 0);
  EXPECT_GT(total, 0u);
  extractionFakes.freeSpaceExFails = true;
  available = total = 0;
  free = 1;
  ASSERT_NE(QueryFreeSpace("C:", &available, &total, &free), 0);
  EXPECT_GT(total, 0u);
  EXPECT_LE(available, total);
  EXPECT_EQ(free, available);
  EXPECT_NE(QueryFreeSpace("C:", &available, &total, nullptr), 0);  // free may be none
  ResetExtractionFakes();
}

TEST(SmallDrive, FiguresAreTheDrivesOwnInBothQueries) {
  if (!SmallDrive()) GTEST_SKIP() << "FA2_SMALL_DRIVE not set";
  std::string drive = CleanSmallDrive();
  ResetExtractionFakes();
  uint64_t available = 0, total = 0, free = 0;
  ASSERT_NE(QueryFreeSpace(drive.c_str(), &available, &total, &free), 0);
  EXPECT_EQ(total, 1048576u);
  EXPECT_LE(available, total);
  extractionFakes.freeSpaceExFails = true;
  uint64_t fallbackAvailable = 0, fallbackTotal = 0, fallbackFree = 1;
  ASSERT_NE(QueryFreeSpace(drive.c_str(), &fallbackAvailable, &fallbackTotal, &fallbackFree), 0);
  ResetExtractionFakes();
  EXPECT_EQ(fallbackTotal, 1048576u);
  EXPECT_EQ(fallbackAvailable, available);
  EXPECT_EQ(fallbackFree, fallbackAvailable);
}

TEST(SmallDrive, ShortWriteLeavesTheOriginalByteIdentical) {
  if (!SmallDrive()) GTEST_SKIP() << "FA2_SMALL_DRIVE not set";
  std::string drive = CleanSmallDrive();
  std::string path = drive + "\\GAME.DAT";
  Bytes original = Text("ten bytes!");
  ASSERT_TRUE(WriteWholeFile(path, original));
  Bytes big(2 * 1048576, 'w');
  FileTime time{1, 2};
  EXPECT_EQ(WriteFileWithTime(path.c_str(), big.data(), static_cast<uint32_t>(big.size()), &time),
            0);
  EXPECT_EQ(ReadWholeFile(path), original);
  EXPECT_EQ(FolderListing(drive), std::vector<std::string>{"GAME.DAT"});
}

TEST(SmallDrive, SpaceCheckIgnoresTheFileBeingReplaced) {
  if (!SmallDrive()) GTEST_SKIP() << "FA2_SMALL_DRIVE not set";
  std::string drive = CleanSmallDrive();
  ResetExtractionFakes();
  // The old file takes part of the drive; an entry of the remaining free
  // space plus one byte would fit once the old file is gone, yet is refused.
  std::string path = drive + "\\GAME.DAT";
  ASSERT_TRUE(WriteWholeFile(path, Repeat('o', 300000)));
  uint64_t available = RealAvailable(drive);
  ASSERT_LT(available, 1048576u);
  LoadedPackage p;
  p.bytes = Build({{"GAME.DAT", Repeat('n', available + 1)}}, true);
  Load(p);
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("GAME.DAT", path.c_str()), 0);
  EXPECT_EQ(ReadWholeFile(path), Repeat('o', 300000));
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].text,
            "ディスク容量が足りません。" + drive + " ドライブに 1 バイトの空き容量が必要です");

  // A large declared size gives a shortfall past 2^31 from the real figures.
  LoadedPackage big;
  big.bytes = Build({{"BIG.DAT", Repeat('z', 4000)}}, false);
  EntryIn(big.bytes, 0)->originalSize = 4000000000u;
  Load(big);
  EXPECT_EQ(ExtractEntry("BIG.DAT", (drive + "\\BIG.DAT").c_str()), 0);
  ASSERT_EQ(watcher.boxes.size(), 2u);
  EXPECT_EQ(watcher.boxes[1].text, "ディスク容量が足りません。" + drive + " ドライブに " +
                                       std::to_string(4000000000u - available) +
                                       " バイトの空き容量が必要です");
}

TEST(SmallDrive, FolderThatCannotTakeTheTemporaryLeavesTheOriginal) {
  if (!SmallDrive()) GTEST_SKIP() << "FA2_SMALL_DRIVE not set";
  std::string drive = CleanSmallDrive();
  std::string path = drive + "\\GAME.DAT";
  Bytes original = Text("original");
  ASSERT_TRUE(WriteWholeFile(path, original));
  // The drive has few file slots: use up the rest, so that no new file fits.
  int fillers = 0;
  while (fillers < 1000 && WriteWholeFile(drive + "\\F" + std::to_string(fillers), Text("")))
    ++fillers;
  ASSERT_LT(fillers, 1000) << "the drive has no limit on its number of files";
  LoadedPackage p;
  p.bytes = Build({{"GAME.DAT", Text("replacement")}}, true);
  Load(p);
  BoxWatcher watcher;
  EXPECT_EQ(ExtractEntry("GAME.DAT", path.c_str()), 0);
  EXPECT_EQ(ReadWholeFile(path), original);
  EXPECT_EQ(FolderListing(drive).size(), static_cast<size_t>(fillers) + 1);
  EXPECT_TRUE(watcher.boxes.empty());
  CleanSmallDrive();
}
