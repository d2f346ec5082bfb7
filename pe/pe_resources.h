// The resources of a Windows executable (PE32 or PE32+), read from its file
// image and written back into a copy of it, with no help from the system:
// an updater is made from a prebuilt stub on any host.
//
// Reading checks every offset against the file (a malformed or hostile file
// gets a one-line reason, never a read outside it). Writing rebuilds the
// resource section in place and moves the sections that follow it (only the
// base relocations may), then fixes the section table, the image size, the
// resource and relocation directory entries and the checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using PeBytes = std::vector<uint8_t>;

// A resource type or name: a number, or a string of UTF-16 code units.
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;
};

ResourceKey ResourceId(uint16_t id);
ResourceKey ResourceName(const char* ascii);

// Standard resource types.
constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;

// One resource of one language. data points into the stub's image or into a
// block the caller (or PeImage::owned) keeps alive until the image is written.
struct ResourceItem {
  ResourceKey type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

struct PeSection {
  uint32_t headerOffset;  // of its entry in the section table
  uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
};

// A parsed stub: where its headers and sections are, and its resources.
struct PeImage {
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  bool is64 = false;
  uint32_t optionalHeader = 0;  // file offset of the optional header
  uint32_t fileAlignment = 0, sectionAlignment = 0;
  std::vector<PeSection> sections;  // in address order
  size_t resourceSection = 0;       // index into sections
  std::vector<ResourceItem> resources;
  std::vector<PeBytes> owned;  // data made here (icon groups, version information)
};

// Reads the stub's headers and resource tree. Empty on success, else why
// not, in a few words ("not a Windows executable", "is signed", ...). The
// image refers to bytes, which must outlive it. A signed file can be read
// (PeSignature::Allowed), to look at its resources, never written back.
enum class PeSignature { Refused, Allowed };
std::string ReadPeImage(const uint8_t* bytes, size_t size, PeImage* image,
                        PeSignature signature = PeSignature::Refused);

// Replaces every language of resource (type, name) with the one item.
void SetResource(PeImage* image, const ResourceItem& item);

// Removes every resource of a type.
void RemoveResourceType(PeImage* image, const ResourceKey& type);

// Replaces the stub's icons with those of an .ico file (icon group 1, icons
// 1..n). Empty on success, else why the file is no usable icon. ico must
// outlive the image.
std::string SetIconFromIco(PeImage* image, const uint8_t* ico, size_t size);

// Version information shown in the file's properties.
struct VersionInfo {
  uint16_t version[4] = {0, 0, 0, 0};  // file and product version, a.b.c.d
  std::string companyName, fileDescription, productName;  // ASCII
};
void SetVersionInfo(PeImage* image, const VersionInfo& info);

// The stub with its resources replaced by image->resources. Empty on
// success, else why not (a result too large for a Windows executable, or
// one that would not read back with these resources); out is then empty.
std::string WritePeImage(const PeImage& image, PeBytes* out);

// The PE checksum of a whole file whose checksum field lies at
// checksumOffset (that field counts as zero).
uint32_t PeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset);
