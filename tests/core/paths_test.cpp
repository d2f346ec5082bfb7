// The normal form of paths and what lies inside the installation folder.
// The expected forms are what the system's own resolution gives for the same
// paths (GetFullPathNameW); tests/win32/normal_path_test holds the two
// together on generated paths.
#include <gtest/gtest.h>

#include "engine/paths.h"

namespace {

struct NormalRow {
  const char* path;
  const char* normal;
};

const NormalRow kNormalRows[] = {
    {"C:\\GAME\\DATA\\..\\A.DAT", "C:\\GAME\\A.DAT"},
    {"C:\\GAME\\\\A.DAT", "C:\\GAME\\A.DAT"},
    {"C:\\GAME\\.\\A.DAT", "C:\\GAME\\A.DAT"},
    {"C:\\GAME/DATA//A.DAT", "C:\\GAME\\DATA\\A.DAT"},
    {"C:\\GAME\\A.DAT. . ", "C:\\GAME\\A.DAT"},
    {"C:\\GAME\\DATA.\\A.DAT", "C:\\GAME\\DATA\\A.DAT"},
    {"C:\\GAME\\DATA..\\A.DAT", "C:\\GAME\\DATA.\\A.DAT"},
    {"C:\\GAME\\DATA \\A.DAT", "C:\\GAME\\DATA \\A.DAT"},
    {"C:\\GAME\\...\\A.DAT", "C:\\GAME\\..\\A.DAT"},
    {"C:\\GAME\\..\\..\\..\\A.DAT", "C:\\A.DAT"},
    {"C:\\GAME\\DATA\\..", "C:\\GAME"},
    {"C:\\GAME\\", "C:\\GAME"},
    {"C:\\", "C:\\"},
    {"C:\\..", "C:\\"},
    {"\\\\server\\share\\..\\x", "\\\\server\\share\\x"},
    {"C:NAME\\..\\B", "C:B"},
    // 表 and ソ end in byte 0x5C: never a separator.
    {"C:\\ゲーム\\一覧表\\..\\ソフト\\\\表", "C:\\ゲーム\\ソフト\\表"},
    {"C:\\一覧表\\.\\A.DAT", "C:\\一覧表\\A.DAT"},
};

struct InsideRow {
  const char* root;
  const char* relative;
  PathPlace place;
  const char* path;  // when inside
};

const InsideRow kInsideRows[] = {
    {"C:\\ゲーム\\一覧表", "DATA\\A.DAT", PathPlace::Inside, "C:\\ゲーム\\一覧表\\DATA\\A.DAT"},
    {"C:\\GAME", "DATA\\..\\A.DAT", PathPlace::Inside, "C:\\GAME\\A.DAT"},
    {"C:\\GAME", "\\A.DAT", PathPlace::Inside, "C:\\GAME\\A.DAT"},
    {"C:\\GAME", "DATA\\\\A.DAT", PathPlace::Inside, "C:\\GAME\\DATA\\A.DAT"},
    {"C:\\GAME\\", "A.DAT.", PathPlace::Inside, "C:\\GAME\\A.DAT"},
    {"C:\\", "A.DAT", PathPlace::Inside, "C:\\A.DAT"},
    {"C:\\GAME", "..\\GAME\\A.DAT", PathPlace::Inside, "C:\\GAME\\A.DAT"},
    {"C:\\GAME", "..\\A.DAT", PathPlace::Outside, nullptr},
    {"C:\\GAME", "DATA\\..\\..\\GAME2\\A.DAT", PathPlace::Outside, nullptr},
    {"C:\\GAME", "..", PathPlace::Outside, nullptr},
    {"C:\\GAME", ".", PathPlace::Outside, nullptr},
    {"C:\\GAME", " . ", PathPlace::Outside, nullptr},
    {"C:\\GAME", "...", PathPlace::Outside, nullptr},
    {"C:\\GAME", "DATA..\\A.DAT", PathPlace::Outside, nullptr},
    {"C:\\GAME", "DATA \\A.DAT", PathPlace::Inside, "C:\\GAME\\DATA \\A.DAT"},
    {"C:\\GAME", "CON", PathPlace::Outside, nullptr},
    {"C:\\GAME", "DATA\\con.txt", PathPlace::Outside, nullptr},
    {"C:\\GAME", "AUX .txt", PathPlace::Outside, nullptr},
    {"C:\\GAME", "LPT9", PathPlace::Outside, nullptr},
    {"C:\\GAME", "COM0", PathPlace::Inside, "C:\\GAME\\COM0"},
    {"C:\\GAME", "CONX", PathPlace::Inside, "C:\\GAME\\CONX"},
    {"C:\\GAME", "A.DAT:stream", PathPlace::Outside, nullptr},
    {"C:\\GAME", "C:\\WINDOWS\\A.DAT", PathPlace::Outside, nullptr},
};

struct PathInsideRow {
  const char* root;
  const char* path;
  bool inside;
};

const PathInsideRow kPathInsideRows[] = {
    {"C:\\GAME", "c:\\game\\A.DAT", true},
    {"C:\\GAME", "C:\\GAMEX\\A.DAT", false},
    {"C:\\GAME", "C:\\GAME", false},
    {"C:\\GAME", "C:\\GAME\\", false},
    {"C:\\GAME", "C:\\GAME\\..\\A.DAT", false},
    {"C:\\GAME", "C:\\GAME\\DATA\\.\\A.DAT", false},
    {"C:\\GAME", "C:\\GAME\\\\A.DAT", false},
    {"C:\\GAME", "C:\\GAME\\A.DAT:x", false},
    {"C:\\GAME", "C:\\GAME\\DATA/A.DAT", false},
    {"C:\\一覧表", "C:\\一覧表\\A.DAT", true},
    {"C:\\一覧表", "C:\\一覧表A.DAT", false},
    {"C:\\", "C:\\A.DAT", true},
    {"C:\\GAME\\", "C:\\GAME\\DATA\\A.DAT", true},
    {"C:\\GAME", "C:\\GAME\\DATA/../../A.DAT", false},
    {"C:\\GAME", "C:\\GAME\\D:A.DAT", false},
    {"C:\\GAME", "C:\\GAME\\..A.DAT", true},
    {"C:\\GAME", "C:\\GAME\\DATA.\\A.DAT", false},
    {"C:\\GAME", "C:\\GAME\\A.DAT ", false},
    {"C:\\GAME", "C:\\GAME\\DATA \\A.DAT", true},
    {"", "A.DAT", false},
    // The root's last byte taken alone is no match: 0x95 opens a character.
    {"C:\\GAME\x95", "C:\\GAME\x95\\A", false},
};

}  // namespace

TEST(NormalPath, AsTheSystemResolvesIt) {
  for (const NormalRow& row : kNormalRows) {
    char out[kPathCapacity];
    ASSERT_TRUE(NormalPath(row.path, out)) << row.path;
    EXPECT_STREQ(out, row.normal) << row.path;
  }
}

TEST(ResolveInside, ItemsBelowTheInstallationFolder) {
  for (const InsideRow& row : kInsideRows) {
    char out[kPathCapacity];
    EXPECT_EQ(ResolveInside(row.root, row.relative, out), row.place) << row.relative;
    if (row.place != PathPlace::Inside) continue;
    EXPECT_STREQ(out, row.path) << row.relative;
    // What lies inside is its own normal form: the system finds the same file.
    char again[kPathCapacity];
    ASSERT_TRUE(NormalPath(out, again));
    EXPECT_STREQ(again, out);
  }
  std::string longName(kPathCapacity, 'A');
  char out[kPathCapacity];
  EXPECT_EQ(ResolveInside("C:\\GAME", longName.c_str(), out), PathPlace::TooLong);
  EXPECT_EQ(ResolveInside("C:\\GAME", (longName + "\\..\\A").c_str(), out), PathPlace::Inside);
}

TEST(PathInside, ByCharacterAndInNormalFormOnly) {
  for (const PathInsideRow& row : kPathInsideRows)
    EXPECT_EQ(PathInside(row.root, row.path), row.inside) << row.root << " " << row.path;
}

TEST(FolderLength, AnySeparatorAndADriveColon) {
  EXPECT_EQ(FolderLength("C:\\GAME\\A.DAT"), 8u);
  EXPECT_EQ(FolderLength("C:/GAME/A.DAT"), 8u);
  EXPECT_EQ(FolderLength("C:A.DAT"), 2u);
  EXPECT_EQ(FolderLength("A.DAT"), 0u);
  EXPECT_STREQ(LastName("C:\\ゲーム\\一覧表"), "一覧表");
}
