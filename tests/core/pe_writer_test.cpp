// The resource writer on hand-made images: what it writes reads back the
// same, and every malformed or signed stub is refused with its reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "pe/pe_resources.h"
#include "tests/support/tiny_pe.h"

namespace {

uint32_t Get32(const PeBytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}
void Put32(PeBytes& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

std::string Describe(const ResourceItem& i) {
  auto key = [](const ResourceKey& k) {
    return k.named ? std::string(k.name.begin(), k.name.end()) : "#" + std::to_string(k.id);
  };
  return key(i.type) + "/" + key(i.name) + "/" + std::to_string(i.language) + "/" +
         std::string(reinterpret_cast<const char*>(i.data), i.size);
}

std::vector<std::string> Listing(const PeImage& image) {
  std::vector<std::string> list;
  for (const ResourceItem& i : image.resources) list.push_back(Describe(i));
  std::sort(list.begin(), list.end());
  return list;
}

}  // namespace

TEST(PeWriter, WhatIsWrittenReadsBackAndRewritesToTheSameBytes) {
  const std::string package(5000, 'p'), dialog = "dialog", manifest = "<xml/>";
  // The second pair of stubs has relocations without raw data, whose
  // offset field the grown resources then pass: they must read back too.
  for (int variant = 0; variant < 4; ++variant) {
    bool is64 = variant & 1, relocationsWithoutData = variant & 2;
    SCOPED_TRACE(std::string(is64 ? "PE32+" : "PE32") +
                 (relocationsWithoutData ? ", no .reloc data" : ""));
    TinyPeLayout layout;
    PeBytes stub = TinyPe(is64, &layout);
    if (relocationsWithoutData) {
      stub.resize(0x400);
      Put32(stub, layout.sectionTable + 40 + 16, 0);
    }
    PeImage image;
    ASSERT_EQ(ReadPeImage(stub.data(), stub.size(), &image), "");
    auto item = [](ResourceKey type, ResourceKey name, uint16_t language, const std::string& data) {
      return ResourceItem{type, name, language, 0, reinterpret_cast<const uint8_t*>(data.data()), data.size()};
    };
    SetResource(&image, item(ResourceId(24), ResourceId(1), 0, manifest));
    SetResource(&image, item(ResourceName("UPDATE"), ResourceId(102), 0, "old"));
    SetResource(&image, item(ResourceId(5), ResourceId(101), 0x411, dialog));
    SetResource(&image, item(ResourceName("UPDATE"), ResourceId(102), 0, package));
    std::vector<std::string> wanted = Listing(image);
    ASSERT_EQ(wanted.size(), 3u);

    PeBytes made, again;
    ASSERT_EQ(WritePeImage(image, &made), "");
    PeImage back;
    ASSERT_EQ(ReadPeImage(made.data(), made.size(), &back), "");
    EXPECT_EQ(Listing(back), wanted);
    ASSERT_EQ(WritePeImage(back, &again), "");
    EXPECT_EQ(again, made);

    // The relocations moved behind the grown resources, their bytes along.
    uint32_t relocationRva = Get32(made, layout.directories + 8 * 5);
    EXPECT_EQ(relocationRva, 0x3000u);
    EXPECT_EQ(Get32(made, layout.sectionTable + 40 + 12), relocationRva);
    EXPECT_EQ(Get32(made, layout.optionalHeader + 56), 0x4000u);  // image size
    if (!relocationsWithoutData) {
      EXPECT_EQ(Get32(made, Get32(made, layout.sectionTable + 40 + 20) + 4), 8u);
    }
    EXPECT_EQ(Get32(made, layout.optionalHeader + 64),
              PeChecksum(made.data(), made.size(), layout.optionalHeader + 64));
  }
}

TEST(PeWriter, RefusesMalformedAndSignedStubsWithTheirReason) {
  TinyPeLayout layout;
  PeBytes good = TinyPe(false, &layout);
  uint32_t resources = layout.directories + 16, table = layout.sectionTable;
  struct Case {
    const char* what;
    uint32_t at, value;
    const char* reason;
  } cases[] = {
      {"no MZ", 0, 0, "not a Windows executable"},
      {"PE header past the end", 0x3C, 0x7FFFFFF0, "not a Windows executable"},
      {"an ARM machine", 0x44, 0x01C4, "not a 32-bit"},
      {"a signature", layout.directories + 8 * 4 + 4, 0x100, "is signed"},
      {"a symbol table", 0x4C, 0x500, "symbol table"},
      {"no sections", 0x46, 0, "malformed section table"},
      {"file alignment 3", layout.optionalHeader + 36, 3, "malformed alignment"},
      {"few directories", layout.directories - 4, 4, "malformed data directories"},
      {"section outside the file", table + 20, 0x7FFFFF00, "lies outside the file"},
      {"overlapping sections", table + 40 + 12, 0x1000, "sections overlap"},
      {"resources in the relocations", resources, 0x2000, "malformed data directories"},
      {"an unknown section behind", layout.directories + 8 * 5, 0, "a section other than the relocations"},
      {"no resources", resources, 0, "no resource section"},
      {"a huge directory", 0x20C, 0xFFFF, "outside its section"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeBytes stub = good;
    Put32(stub, c.at, c.value);
    PeImage image;
    EXPECT_NE(ReadPeImage(stub.data(), stub.size(), &image).find(c.reason), std::string::npos)
        << ReadPeImage(stub.data(), stub.size(), &image);
  }
  PeBytes appended = good;
  appended.push_back(0);
  PeImage image;
  EXPECT_EQ(ReadPeImage(appended.data(), appended.size(), &image), "has data after its last section");
  // Every shorter copy is refused (and read only inside itself).
  for (size_t size = 0; size < good.size(); ++size) {
    PeBytes cut(good.begin(), good.begin() + size);
    EXPECT_NE(ReadPeImage(cut.data(), cut.size(), &image), "") << size;
  }
}

TEST(PeWriter, RefusesIconFilesThatAreNone) {
  PeBytes stub = TinyPe(true);
  const std::vector<PeBytes> bad = {
      {},
      {0, 0, 2, 0, 1, 0},                                         // a cursor file
      {0, 0, 1, 0, 0, 0},                                         // no image
      {0, 0, 1, 0, 2, 0, 16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0},  // entries cut short
      {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 22, 0, 0, 0, 1, 2},  // image cut
  };
  for (const PeBytes& ico : bad) {
    PeImage image;
    ASSERT_EQ(ReadPeImage(stub.data(), stub.size(), &image), "");
    EXPECT_NE(SetIconFromIco(&image, ico.data(), ico.size()), "");
    EXPECT_TRUE(image.resources.empty());  // nothing changed
  }
}
