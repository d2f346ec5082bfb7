// The resource writer's output as the system itself reads it: the build's
// own updater stub gets a package (and an icon, version information), and
// the result is loaded as data and as a mapped image, with every resource of
// the stub still there byte for byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "base/system.h"
#include "pe/pe_resources.h"
#include "tests/support/test_files.h"

namespace {

std::string StubPath() {
  char folder[MAX_PATH];
  EXPECT_TRUE(SysGetModuleFolder(folder, sizeof folder));
  return std::string(folder) + "\\..\\updater.exe";  // tests live in the build's tests folder
}

// Key of a resource as the system enumerates it.
using Key = std::tuple<std::string, std::string, WORD>;
using Listing = std::map<Key, Bytes>;

std::string KeyText(LPCSTR key) {
  return IS_INTRESOURCE(key) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(key)) : key;
}

BOOL CALLBACK OnLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
  HRSRC found = FindResourceExA(module, type, name, language);
  const uint8_t* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  DWORD size = SizeofResource(module, found);
  (*reinterpret_cast<Listing*>(param))[{KeyText(type), KeyText(name), language}] =
      data ? Bytes(data, data + size) : Bytes();
  return TRUE;
}
BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  EnumResourceLanguagesA(module, type, name, OnLanguage, param);
  return TRUE;
}
BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR param) {
  EnumResourceNamesA(module, type, OnName, param);
  return TRUE;
}

Listing ListResources(HMODULE module) {
  Listing listing;
  EnumResourceTypesA(module, OnType, reinterpret_cast<LONG_PTR>(&listing));
  return listing;
}

// A 16x16 32-bit icon file with one image.
Bytes TinyIco() {
  Bytes image(40 + 16 * 16 * 4 + 16 * 4, 0);
  image[0] = 40;             // BITMAPINFOHEADER size
  image[4] = 16;             // width
  image[8] = 32;             // height: colour and mask
  image[12] = 1;             // planes
  image[14] = 32;            // bits per pixel
  for (size_t i = 40; i < 40 + 1024; i += 4) image[i + 3] = 0xFF;
  Bytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
  uint32_t size = static_cast<uint32_t>(image.size()), offset = 22;
  for (int i = 0; i < 4; ++i) ico.push_back(static_cast<uint8_t>(size >> (8 * i)));
  for (int i = 0; i < 4; ++i) ico.push_back(static_cast<uint8_t>(offset >> (8 * i)));
  ico.insert(ico.end(), image.begin(), image.end());
  return ico;
}

}  // namespace

// The linker's checksum is the oracle for ours.
TEST(PeResources, ChecksumAgreesWithTheLinkers) {
  Bytes stub = ReadWholeFile(StubPath());
  PeImage image;
  ASSERT_EQ(ReadPeImage(stub.data(), stub.size(), &image), "");
  uint32_t at = image.optionalHeader + 64, stored;
  std::memcpy(&stored, stub.data() + at, 4);
  EXPECT_EQ(PeChecksum(stub.data(), stub.size(), at), stored);
}

TEST(PeResources, TheSystemReadsThePackageAndEveryStubResource) {
  Bytes stub = ReadWholeFile(StubPath());
  ASSERT_FALSE(stub.empty());
  HMODULE stubModule = LoadLibraryExA(StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(stubModule);
  Listing stubResources = ListResources(stubModule);
  FreeLibrary(stubModule);
  ASSERT_GE(stubResources.size(), 2u);  // the wizard dialog and the manifest

  std::string folder = MakeScratchFolder("pe");
  Bytes ico = TinyIco();
  struct Case {
    const char* what;
    size_t packageSize;
    bool icon, version, twice;
  } cases[] = {
      {"one byte", 1, false, false, false},
      {"3 MB, icon and version", 3000001, true, true, false},
      {"empty", 0, false, false, false},
      {"made again from an updater", 70000, true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes package(c.packageSize);
    for (size_t i = 0; i < package.size(); ++i) package[i] = static_cast<uint8_t>(i * 7 + i / 251);
    Bytes made = stub;
    for (int round = 0; round < (c.twice ? 2 : 1); ++round) {
      Bytes from = made;
      PeImage image;
      ASSERT_EQ(ReadPeImage(from.data(), from.size(), &image), "");
      if (c.icon) {
        ASSERT_EQ(SetIconFromIco(&image, ico.data(), ico.size()), "");
      }
      if (c.version) SetVersionInfo(&image, {{1, 2, 3, 4}, "Maker", "Update", "Game"});
      ResourceItem item{ResourceName("UPDATE"), ResourceId(102), 0, 0, package.data(), package.size()};
      SetResource(&image, item);
      ASSERT_EQ(WritePeImage(image, &made), "");
    }
    std::string path = folder + "\\UPDATE.EXE";
    ASSERT_TRUE(WriteWholeFile(path, made));

    // Mapped as an image: at another base than its own (this test occupies
    // it), so the moved relocations are applied too.
    for (DWORD flags : {DWORD{LOAD_LIBRARY_AS_DATAFILE}, DWORD{DONT_RESOLVE_DLL_REFERENCES}}) {
      HMODULE module = LoadLibraryExA(path.c_str(), nullptr, flags);
      ASSERT_TRUE(module) << "flags " << flags << " error " << GetLastError();
      HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "UPDATE");
      ASSERT_TRUE(found);
      ASSERT_EQ(SizeofResource(module, found), package.size());
      const void* data = LockResource(LoadResource(module, found));
      EXPECT_TRUE(package.empty() || (data && std::memcmp(data, package.data(), package.size()) == 0));
      Listing listing = ListResources(module);
      for (const auto& [key, bytes] : stubResources) {
        auto it = listing.find(key);
        ASSERT_NE(it, listing.end()) << std::get<0>(key) << " " << std::get<1>(key);
        EXPECT_EQ(it->second, bytes) << std::get<0>(key) << " " << std::get<1>(key);
      }
      if (c.icon) {
        HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));
        ASSERT_TRUE(group);
        auto* dir = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
        int id = LookupIconIdFromDirectoryEx(dir, TRUE, 16, 16, LR_DEFAULTCOLOR);
        HRSRC icon = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
        ASSERT_TRUE(icon);
        HICON handle = CreateIconFromResourceEx(
            static_cast<BYTE*>(LockResource(LoadResource(module, icon))),
            SizeofResource(module, icon), TRUE, 0x00030000, 16, 16, LR_DEFAULTCOLOR);
        EXPECT_TRUE(handle);
        if (handle) DestroyIcon(handle);
      }
      FreeLibrary(module);
    }
    if (c.version) {
      Bytes info(GetFileVersionInfoSizeA(path.c_str(), nullptr));
      ASSERT_FALSE(info.empty());
      ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
      VS_FIXEDFILEINFO* fixed = nullptr;
      UINT length = 0;
      ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
      EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
      EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
      char* company = nullptr;
      ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\000004B0\\CompanyName",
                                 reinterpret_cast<void**>(&company), &length));
      EXPECT_STREQ(company, "Maker");
    }
    DeleteFileA(path.c_str());
  }
}
