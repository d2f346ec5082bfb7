// libFuzzer target: the resource writer on any stub. Reading never goes
// outside the file (an exact-size copy); a stub it accepts gets a package
// and an icon group and is written, and what it writes reads back with the
// same resources and, written again, gives the same bytes.
#include <algorithm>
#include <cstdint>
#include <string>

#include "pe/pe_resources.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

std::string Listing(const PeImage& image) {
  std::vector<std::string> items;
  for (const ResourceItem& i : image.resources) {
    std::string key = i.type.named ? std::string(i.type.name.begin(), i.type.name.end())
                                   : std::to_string(i.type.id);
    key += "/" + (i.name.named ? std::string(i.name.name.begin(), i.name.name.end())
                               : std::to_string(i.name.id));
    key += "/" + std::to_string(i.language) + "/" + std::to_string(i.codePage) + "/";
    items.push_back(key + std::string(reinterpret_cast<const char*>(i.data), i.size));
  }
  std::sort(items.begin(), items.end());
  std::string all;
  for (const std::string& s : items) all += s + '\n';
  return all;
}

// A one-image icon file whose image is the given bytes.
PeBytes Ico(const uint8_t* image, size_t size) {
  PeBytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0};
  for (uint32_t v : {static_cast<uint32_t>(size), 22u})
    for (int i = 0; i < 4; ++i) ico.push_back(static_cast<uint8_t>(v >> (8 * i)));
  ico.insert(ico.end(), image, image + size);
  return ico;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ExactBlock stub(data, size);
  PeImage image;
  if (!ReadPeImage(stub.data, stub.size, &image).empty()) return 0;
  size_t half = size / 2;
  PeBytes ico = Ico(stub.data, std::max<size_t>(half, 1));
  FUZZ_CHECK(SetIconFromIco(&image, ico.data(), ico.size()).empty());
  SetResource(&image, {ResourceName("UPDATE"), ResourceId(102), 0, 0, stub.data + half, size - half});
  // The writer refuses a result of 2 GiB or more (a stub's sizes may ask for
  // that) and one that would not read back: that refusal is a finding, as
  // every stub the reader accepts is meant to be writable.
  PeBytes made;
  std::string why = WritePeImage(image, &made);
  FUZZ_CHECK(why.find("cannot take") == std::string::npos);
  if (!why.empty()) return 0;

  ExactBlock copy(made.data(), made.size());
  PeImage back;
  FUZZ_CHECK(ReadPeImage(copy.data, copy.size, &back).empty());
  FUZZ_CHECK(Listing(back) == Listing(image));
  PeBytes again;
  FUZZ_CHECK(WritePeImage(back, &again).empty());
  FUZZ_CHECK(again == made);
  return 0;
}
