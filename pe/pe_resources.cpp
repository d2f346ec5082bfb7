#include "pe/pe_resources.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace {

void Append16(PeBytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Append32(PeBytes& out, uint32_t v) {
  Append16(out, v);
  Append16(out, v >> 16);
}

uint64_t AlignUp(uint64_t v, uint64_t alignment) { return (v + alignment - 1) & ~(alignment - 1); }
bool PowerOfTwo(uint32_t v) { return v && (v & (v - 1)) == 0; }

// True when [offset, offset + length) lies inside a block of size bytes.
bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

// Header fields, as offsets into the optional header.
constexpr uint32_t kSizeOfInitializedData = 8;
constexpr uint32_t kSectionAlignment = 32;
constexpr uint32_t kFileAlignment = 36;
constexpr uint32_t kSizeOfImage = 56;
constexpr uint32_t kCheckSum = 64;
constexpr uint32_t kResourceDirectory = 2, kSecurityDirectory = 4, kRelocationDirectory = 5;
constexpr uint32_t kSectionEntry = 40;
constexpr uint32_t kMaxSections = 96;
// More resources than any updater has; bounds the work a hostile tree can ask for.
constexpr size_t kMaxTreeEntries = 1 << 16;

uint32_t DirectoryTable(const PeImage& image) { return image.optionalHeader + (image.is64 ? 112 : 96); }

// ---- the resource tree ----

int CompareKeys(const ResourceKey& a, const ResourceKey& b) {
  if (a.named != b.named) return a.named ? -1 : 1;  // names come before numbers
  if (!a.named) return a.id < b.id ? -1 : a.id > b.id;
  // Code unit by code unit: the system looks names up in upper case, which
  // is how they are stored, and keeps other spellings apart.
  return a.name.compare(b.name) < 0 ? -1 : a.name != b.name;
}

struct TreeReader {
  const uint8_t* root;    // the resource directory's first byte
  uint32_t limit;         // bytes from root to the end of the section's raw data
  const PeSection* section;
  size_t entriesSeen = 0;
};

struct TreeEntry {
  ResourceKey key;
  uint32_t target;  // offset of a subdirectory or data entry
  bool directory;
};

std::string ReadDirectory(TreeReader& tree, uint32_t offset, std::vector<TreeEntry>* entries) {
  entries->clear();
  if (!Inside(offset, 16, tree.limit)) return "resource directory outside its section";
  const uint8_t* p = tree.root + offset;
  uint32_t count = uint32_t{Get16(p + 12)} + Get16(p + 14);
  tree.entriesSeen += count;
  if (tree.entriesSeen > kMaxTreeEntries) return "too many resources";
  if (!Inside(offset + 16, uint64_t{count} * 8, tree.limit))
    return "resource directory outside its section";
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = p + 16 + 8 * i;
    uint32_t name = Get32(e), target = Get32(e + 4);
    TreeEntry entry;
    if (name & 0x80000000u) {
      uint32_t at = name & 0x7FFFFFFFu;
      if (!Inside(at, 2, tree.limit)) return "resource name outside its section";
      uint32_t length = Get16(tree.root + at);
      if (!Inside(at + 2, uint64_t{length} * 2, tree.limit)) return "resource name outside its section";
      entry.key.named = true;
      for (uint32_t k = 0; k < length; ++k) entry.key.name += char16_t(Get16(tree.root + at + 2 + 2 * k));
    } else {
      if (name > 0xFFFF) return "resource id out of range";
      entry.key.id = static_cast<uint16_t>(name);
    }
    entry.directory = (target & 0x80000000u) != 0;
    entry.target = target & 0x7FFFFFFFu;
    entries->push_back(std::move(entry));
  }
  return "";
}

// Resources sit three levels deep: type, name, language.
std::string ReadTree(TreeReader& tree, const PeImage& image, std::vector<ResourceItem>* items) {
  std::vector<TreeEntry> types, names, languages;
  std::string why = ReadDirectory(tree, 0, &types);
  for (const TreeEntry& type : types) {
    if (!why.empty()) break;
    if (!type.directory) return "malformed resource tree";
    why = ReadDirectory(tree, type.target, &names);
    for (const TreeEntry& name : names) {
      if (!why.empty()) break;
      if (!name.directory) return "malformed resource tree";
      why = ReadDirectory(tree, name.target, &languages);
      for (const TreeEntry& language : languages) {
        if (!why.empty()) break;
        if (language.directory || language.key.named) return "malformed resource tree";
        if (!Inside(language.target, 16, tree.limit)) return "resource entry outside its section";
        const uint8_t* d = tree.root + language.target;
        uint32_t rva = Get32(d), size = Get32(d + 4);
        const PeSection& s = *tree.section;
        if (rva < s.virtualAddress || !Inside(rva - s.virtualAddress, size, s.rawSize))
          return "resource data outside the resource section";
        ResourceItem item;
        item.type = type.key;
        item.name = name.key;
        item.language = language.key.id;
        item.codePage = Get32(d + 8);
        item.data = image.bytes + s.rawOffset + (rva - s.virtualAddress);
        item.size = size;
        items->push_back(std::move(item));
      }
    }
  }
  return why;
}

}  // namespace

ResourceKey ResourceId(uint16_t id) {
  ResourceKey key;
  key.id = id;
  return key;
}

ResourceKey ResourceName(const char* ascii) {
  ResourceKey key;
  key.named = true;
  for (; *ascii; ++ascii) key.name += char16_t(static_cast<unsigned char>(*ascii));
  return key;
}

std::string ReadPeImage(const uint8_t* bytes, size_t size, PeImage* image, PeSignature signature) {
  *image = PeImage{};
  image->bytes = bytes;
  image->size = size;
  if (size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return "not a Windows executable";
  uint32_t pe = Get32(bytes + 0x3C);
  if (!Inside(pe, 24, size) || std::memcmp(bytes + pe, "PE\0\0", 4) != 0)
    return "not a Windows executable";
  uint16_t machine = Get16(bytes + pe + 4), sectionCount = Get16(bytes + pe + 6);
  uint32_t symbols = Get32(bytes + pe + 12);
  uint16_t optionalSize = Get16(bytes + pe + 20);
  uint32_t opt = pe + 24;
  if (!Inside(opt, optionalSize, size) || optionalSize < 2) return "truncated headers";
  uint16_t magic = Get16(bytes + opt);
  if (magic == 0x10B && machine == 0x14C) {
    image->is64 = false;
  } else if (magic == 0x20B && machine == 0x8664) {
    image->is64 = true;
  } else {
    return "not a 32-bit x86 or 64-bit x86-64 Windows executable";
  }
  image->optionalHeader = opt;
  uint32_t directories = image->is64 ? 112 : 96;
  if (optionalSize < directories) return "malformed optional header";
  uint32_t directoryCount = Get32(bytes + opt + directories - 4);
  if (directoryCount <= kRelocationDirectory ||
      uint64_t{directories} + uint64_t{directoryCount} * 8 > optionalSize)
    return "malformed data directories";
  const uint8_t* table = bytes + opt + directories;
  if (uint32_t certificates = Get32(table + 8 * kSecurityDirectory + 4)) {
    if (signature == PeSignature::Refused)
      return "is signed (make the updater from an unsigned stub, then sign the updater)";
    // The signature (a file offset, not an address) ends the file; the
    // image proper is what lies before it.
    uint32_t at = Get32(table + 8 * kSecurityDirectory);
    if (!Inside(at, certificates, size) || uint64_t{at} + certificates != size)
      return "malformed signature";
    size = at;
  }
  uint32_t resourceRva = Get32(table + 8 * kResourceDirectory);
  uint32_t relocationRva = Get32(table + 8 * kRelocationDirectory);
  if (resourceRva != 0 && resourceRva == relocationRva) return "malformed data directories";
  image->sectionAlignment = Get32(bytes + opt + kSectionAlignment);
  image->fileAlignment = Get32(bytes + opt + kFileAlignment);
  if (!PowerOfTwo(image->fileAlignment) || image->fileAlignment < 512 ||
      image->fileAlignment > 65536 || !PowerOfTwo(image->sectionAlignment) ||
      image->sectionAlignment < image->fileAlignment || image->sectionAlignment > (1u << 28))
    return "malformed alignment";
  if (symbols != 0) return "carries a symbol table (use a stripped stub)";

  uint32_t sectionTable = opt + optionalSize;
  if (sectionCount == 0 || sectionCount > kMaxSections ||
      !Inside(sectionTable, uint64_t{sectionCount} * kSectionEntry, size))
    return "malformed section table";
  uint64_t rawEnd = 0;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    uint32_t at = sectionTable + i * kSectionEntry;
    const uint8_t* s = bytes + at;
    PeSection section{at, Get32(s + 8), Get32(s + 12), Get32(s + 16), Get32(s + 20)};
    if (section.rawSize && !Inside(section.rawOffset, section.rawSize, size))
      return "section " + std::to_string(i + 1) + " lies outside the file";
    if (section.virtualSize == 0) section.virtualSize = section.rawSize;
    if (section.rawSize) rawEnd = std::max<uint64_t>(rawEnd, uint64_t{section.rawOffset} + section.rawSize);
    image->sections.push_back(section);
  }
  if (rawEnd < size) return "has data after its last section";
  std::vector<PeSection>& sections = image->sections;
  std::sort(sections.begin(), sections.end(),
            [](const PeSection& a, const PeSection& b) { return a.virtualAddress < b.virtualAddress; });
  for (size_t i = 0; i + 1 < sections.size(); ++i)
    if (uint64_t{sections[i].virtualAddress} + sections[i].virtualSize > sections[i + 1].virtualAddress)
      return "sections overlap";

  // The resource section is rebuilt where it is; only the relocations,
  // which nothing else points into, may follow it and are moved behind it.
  size_t r = 0;
  while (r < sections.size() && sections[r].virtualAddress != resourceRva) ++r;
  if (resourceRva == 0 || r == sections.size()) return "has no resource section of its own";
  image->resourceSection = r;
  const PeSection& rsrc = sections[r];
  // The headers are rewritten in the copy, which may end sooner than the stub.
  if (uint64_t{sectionTable} + uint64_t{sectionCount} * kSectionEntry > rsrc.rawOffset)
    return "malformed section table";
  for (size_t i = 0; i < r; ++i)
    if (sections[i].rawSize && uint64_t{sections[i].rawOffset} + sections[i].rawSize > rsrc.rawOffset)
      return "the resource section is not at the end of the file";
  // A section without raw data has no place in the file, whatever its
  // offset field says (the writer leaves that field as it was).
  for (size_t i = r + 1; i < sections.size(); ++i)
    if (sections[i].virtualAddress != relocationRva || i != r + 1 ||
        (sections[i].rawSize && sections[i].rawOffset < uint64_t{rsrc.rawOffset} + rsrc.rawSize))
      return "a section other than the relocations follows the resources";

  TreeReader tree{bytes + rsrc.rawOffset, rsrc.rawSize, &rsrc};
  std::vector<ResourceItem> items;
  std::string why = ReadTree(tree, *image, &items);
  if (!why.empty()) return why;
  // A resource listed twice has no one meaning for the loader's search.
  std::vector<const ResourceItem*> sorted;
  for (const ResourceItem& item : items) sorted.push_back(&item);
  auto order = [](const ResourceItem* a, const ResourceItem* b) {
    if (int c = CompareKeys(a->type, b->type)) return c < 0;
    if (int c = CompareKeys(a->name, b->name)) return c < 0;
    return a->language < b->language;
  };
  std::sort(sorted.begin(), sorted.end(), order);
  for (size_t i = 0; i + 1 < sorted.size(); ++i)
    if (!order(sorted[i], sorted[i + 1])) return "malformed resource tree (a resource listed twice)";
  image->resources = std::move(items);
  return "";
}

void RemoveResourceType(PeImage* image, const ResourceKey& type) {
  auto& r = image->resources;
  r.erase(std::remove_if(r.begin(), r.end(),
                         [&](const ResourceItem& i) { return CompareKeys(i.type, type) == 0; }),
          r.end());
}

void SetResource(PeImage* image, const ResourceItem& item) {
  auto& r = image->resources;
  r.erase(std::remove_if(r.begin(), r.end(),
                         [&](const ResourceItem& i) {
                           return CompareKeys(i.type, item.type) == 0 &&
                                  CompareKeys(i.name, item.name) == 0;
                         }),
          r.end());
  r.push_back(item);
}

std::string SetIconFromIco(PeImage* image, const uint8_t* ico, size_t size) {
  if (size < 6 || Get16(ico) != 0 || Get16(ico + 2) != 1) return "not an icon file";
  uint32_t count = Get16(ico + 4);
  if (count == 0) return "the icon file holds no image";
  if (!Inside(6, uint64_t{count} * 16, size)) return "truncated icon file";
  PeBytes group;
  Append16(group, 0);
  Append16(group, 1);
  Append16(group, count);
  std::vector<ResourceItem> icons;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = ico + 6 + 16 * i;
    uint32_t length = Get32(e + 8), offset = Get32(e + 12);
    if (length == 0 || !Inside(offset, length, size)) return "truncated icon file";
    // The group entry is the file's entry with the image's resource id in
    // place of its offset.
    group.insert(group.end(), e, e + 12);
    Append16(group, i + 1);
    ResourceItem icon;
    icon.type = ResourceId(kResourceIcon);
    icon.name = ResourceId(static_cast<uint16_t>(i + 1));
    icon.data = ico + offset;
    icon.size = length;
    icons.push_back(icon);
  }
  RemoveResourceType(image, ResourceId(kResourceIcon));
  RemoveResourceType(image, ResourceId(kResourceGroupIcon));
  for (const ResourceItem& icon : icons) image->resources.push_back(icon);
  image->owned.push_back(std::move(group));
  ResourceItem item;
  item.type = ResourceId(kResourceGroupIcon);
  item.name = ResourceId(1);
  item.data = image->owned.back().data();
  item.size = image->owned.back().size();
  image->resources.push_back(item);
  return "";
}

namespace {

// One node of version information: length, value length, type, key, value
// and children, each starting on a 4-byte boundary.
struct VersionNode {
  PeBytes& out;
  size_t start;
  VersionNode(PeBytes& o, const char* key, uint16_t valueLength, bool text) : out(o) {
    while (out.size() % 4) out.push_back(0);
    start = out.size();
    Append16(out, 0);
    Append16(out, valueLength);
    Append16(out, text ? 1 : 0);
    for (; *key; ++key) Append16(out, static_cast<unsigned char>(*key));
    Append16(out, 0);
    while (out.size() % 4) out.push_back(0);
  }
  ~VersionNode() { Put16(out.data() + start, static_cast<uint32_t>(out.size() - start)); }
};

void AppendUtf16(PeBytes& out, const std::string& ascii) {
  for (unsigned char c : ascii) Append16(out, c < 0x80 ? c : '?');
  Append16(out, 0);
}

}  // namespace

void SetVersionInfo(PeImage* image, const VersionInfo& info) {
  PeBytes out;
  {
    VersionNode root(out, "VS_VERSION_INFO", 52, false);
    const uint16_t* v = info.version;
    uint32_t high = uint32_t{v[0]} << 16 | v[1], low = uint32_t{v[2]} << 16 | v[3];
    // VS_FIXEDFILEINFO: signature, structure version, file and product
    // version, flags, Windows NT, an application.
    for (uint32_t field : {0xFEEF04BDu, 0x00010000u, high, low, high, low, 0x3Fu, 0u, 0x40004u, 1u,
                           0u, 0u, 0u})
      Append32(out, field);
    {
      VersionNode strings(out, "StringFileInfo", 0, true);
      VersionNode table(out, "000004B0", 0, true);  // neutral language, UTF-16
      std::string number = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                           std::to_string(v[2]) + "." + std::to_string(v[3]);
      const std::pair<const char*, const std::string*> fields[] = {
          {"CompanyName", &info.companyName}, {"FileDescription", &info.fileDescription},
          {"FileVersion", &number},           {"ProductName", &info.productName},
          {"ProductVersion", &number}};
      for (const auto& [key, value] : fields) {
        if (value->empty()) continue;
        VersionNode node(out, key, static_cast<uint16_t>(value->size() + 1), true);
        AppendUtf16(out, *value);
      }
    }
    {
      VersionNode files(out, "VarFileInfo", 0, true);
      VersionNode translation(out, "Translation", 4, false);
      Append32(out, 0x04B00000u);
    }
  }
  image->owned.push_back(std::move(out));
  ResourceItem item;
  item.type = ResourceId(kResourceVersion);
  item.name = ResourceId(1);
  item.data = image->owned.back().data();
  item.size = image->owned.back().size();
  SetResource(image, item);
}

// ---- writing ----

namespace {

// The resources grouped by type and name, each level in the order the
// loader's binary search expects (names first, then ids ascending).
struct NameGroup {
  const ResourceKey* name;
  std::vector<const ResourceItem*> languages;
};
struct TypeGroup {
  const ResourceKey* type;
  std::vector<NameGroup> names;
};

std::vector<TypeGroup> GroupResources(const std::vector<ResourceItem>& resources) {
  std::vector<const ResourceItem*> sorted;
  for (const ResourceItem& item : resources) sorted.push_back(&item);
  std::stable_sort(sorted.begin(), sorted.end(), [](const ResourceItem* a, const ResourceItem* b) {
    if (int c = CompareKeys(a->type, b->type)) return c < 0;
    if (int c = CompareKeys(a->name, b->name)) return c < 0;
    return a->language < b->language;
  });
  std::vector<TypeGroup> types;
  for (const ResourceItem* item : sorted) {
    if (types.empty() || CompareKeys(*types.back().type, item->type) != 0)
      types.push_back({&item->type, {}});
    std::vector<NameGroup>& names = types.back().names;
    if (names.empty() || CompareKeys(*names.back().name, item->name) != 0)
      names.push_back({&item->name, {}});
    std::vector<const ResourceItem*>& languages = names.back().languages;
    if (languages.empty() || languages.back()->language != item->language)
      languages.push_back(item);
    else
      languages.back() = item;  // one item per language: the later one wins
  }
  return types;
}

// The resource section: head holds the directories, data entries and names;
// data says where each item's bytes go, from the section's start.
struct SectionPlan {
  PeBytes head;
  std::vector<std::pair<const ResourceItem*, uint64_t>> data;
  uint64_t size = 0;
};

void PutEntry(PeBytes& head, size_t at, uint32_t name, uint32_t target) {
  Put32(head.data() + at, name);
  Put32(head.data() + at + 4, target);
}

void PutDirectoryHeader(PeBytes& head, size_t at, const std::vector<const ResourceKey*>& keys) {
  uint32_t named = 0;
  for (const ResourceKey* k : keys) named += k->named;
  Put16(head.data() + at + 12, named);
  Put16(head.data() + at + 14, static_cast<uint32_t>(keys.size()) - named);
}

SectionPlan PlanSection(const std::vector<TypeGroup>& types, uint32_t sectionRva) {
  SectionPlan plan;
  // Sizes: all directories, then the data entries, then the names.
  size_t directories = 16 + 8 * types.size(), leaves = 0;
  for (const TypeGroup& t : types) {
    directories += 16 + 8 * t.names.size();
    for (const NameGroup& n : t.names) {
      directories += 16 + 8 * n.languages.size();
      leaves += n.languages.size();
    }
  }
  size_t entries = directories, names = entries + 16 * leaves;
  plan.head.assign(names, 0);
  std::vector<std::pair<size_t, const ResourceKey*>> nameFields;  // filled when names are laid out
  auto keyField = [&](size_t at, const ResourceKey& key) {
    if (key.named)
      nameFields.push_back({at, &key});
    else
      Put32(plan.head.data() + at, key.id);
  };

  size_t nextDirectory = 16 + 8 * types.size();
  std::vector<const ResourceKey*> keys;
  for (const TypeGroup& t : types) keys.push_back(t.type);
  PutDirectoryHeader(plan.head, 0, keys);
  size_t leaf = entries;
  std::vector<const ResourceItem*> leafItems;
  for (size_t i = 0; i < types.size(); ++i) {
    const TypeGroup& t = types[i];
    size_t typeDir = nextDirectory;
    nextDirectory += 16 + 8 * t.names.size();
    keyField(16 + 8 * i, *t.type);
    Put32(plan.head.data() + 16 + 8 * i + 4, 0x80000000u | static_cast<uint32_t>(typeDir));
    keys.clear();
    for (const NameGroup& n : t.names) keys.push_back(n.name);
    PutDirectoryHeader(plan.head, typeDir, keys);
    for (size_t j = 0; j < t.names.size(); ++j) {
      const NameGroup& n = t.names[j];
      size_t nameDir = nextDirectory;
      nextDirectory += 16 + 8 * n.languages.size();
      keyField(typeDir + 16 + 8 * j, *n.name);
      Put32(plan.head.data() + typeDir + 16 + 8 * j + 4, 0x80000000u | static_cast<uint32_t>(nameDir));
      Put16(plan.head.data() + nameDir + 14, static_cast<uint32_t>(n.languages.size()));
      for (size_t k = 0; k < n.languages.size(); ++k) {
        PutEntry(plan.head, nameDir + 16 + 8 * k, n.languages[k]->language, static_cast<uint32_t>(leaf));
        leafItems.push_back(n.languages[k]);
        leaf += 16;
      }
    }
  }
  for (auto& [at, key] : nameFields) {
    Put32(plan.head.data() + at, 0x80000000u | static_cast<uint32_t>(plan.head.size()));
    Append16(plan.head, static_cast<uint32_t>(key->name.size()));
    for (char16_t c : key->name) Append16(plan.head, c);
  }
  while (plan.head.size() % 8) plan.head.push_back(0);

  uint64_t at = plan.head.size();
  for (size_t i = 0; i < leafItems.size(); ++i) {
    const ResourceItem* item = leafItems[i];
    uint8_t* d = plan.head.data() + entries + 16 * i;
    Put32(d, static_cast<uint32_t>(sectionRva + at));  // checked by the caller
    Put32(d + 4, static_cast<uint32_t>(item->size));
    Put32(d + 8, item->codePage);
    plan.data.push_back({item, at});
    at = AlignUp(at + item->size, 8);
  }
  plan.size = at;
  return plan;
}

// The resources one of each type, name and language, in the loader's order
// (for several items of one language, the one written: the last).
std::vector<const ResourceItem*> Written(const std::vector<ResourceItem>& resources) {
  std::vector<const ResourceItem*> items;
  for (const TypeGroup& t : GroupResources(resources))
    for (const NameGroup& n : t.names)
      items.insert(items.end(), n.languages.begin(), n.languages.end());
  return items;
}

bool SameResources(const std::vector<ResourceItem>& read, const std::vector<ResourceItem>& wanted) {
  std::vector<const ResourceItem*> a = Written(read), b = Written(wanted);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (CompareKeys(a[i]->type, b[i]->type) != 0 || CompareKeys(a[i]->name, b[i]->name) != 0 ||
        a[i]->language != b[i]->language || a[i]->codePage != b[i]->codePage ||
        a[i]->size != b[i]->size ||
        (a[i]->size && std::memcmp(a[i]->data, b[i]->data, a[i]->size) != 0))
      return false;
  return true;
}

}  // namespace

std::string WritePeImage(const PeImage& image, PeBytes* out) {
  const std::vector<PeSection>& sections = image.sections;
  const PeSection& rsrc = sections[image.resourceSection];
  for (const ResourceItem& item : image.resources)
    if (item.size > UINT32_MAX) return "a resource larger than 4 GiB";
  SectionPlan plan = PlanSection(GroupResources(image.resources), rsrc.virtualAddress);

  // The new layout: the resource section where it was, then the
  // relocations behind it. Windows maps no image of 2 GiB or more.
  uint64_t fileEnd = rsrc.rawOffset + AlignUp(plan.size, image.fileAlignment);
  uint64_t imageEnd = AlignUp(rsrc.virtualAddress + std::max<uint64_t>(plan.size, 1), image.sectionAlignment);
  std::vector<PeSection> moved;
  for (size_t i = image.resourceSection + 1; i < sections.size(); ++i) {
    PeSection s = sections[i];
    s.virtualAddress = static_cast<uint32_t>(std::min<uint64_t>(imageEnd, UINT32_MAX));
    s.rawOffset = static_cast<uint32_t>(std::min<uint64_t>(fileEnd, UINT32_MAX));
    fileEnd += s.rawSize;
    imageEnd = AlignUp(imageEnd + s.virtualSize, image.sectionAlignment);
    moved.push_back(s);
  }
  constexpr uint64_t kLimit = 0x7FFFFFFF;
  if (fileEnd > kLimit || imageEnd > kLimit) return "the updater would be 2 GiB or larger";

  out->clear();
  out->resize(static_cast<size_t>(fileEnd));
  uint8_t* o = out->data();
  std::memcpy(o, image.bytes, rsrc.rawOffset);
  std::memcpy(o + rsrc.rawOffset, plan.head.data(), plan.head.size());
  for (const auto& [item, at] : plan.data)
    if (item->size) std::memcpy(o + rsrc.rawOffset + at, item->data, item->size);
  for (size_t i = 0; i < moved.size(); ++i) {
    const PeSection& from = sections[image.resourceSection + 1 + i];
    if (from.rawSize) std::memcpy(o + moved[i].rawOffset, image.bytes + from.rawOffset, from.rawSize);
  }

  // Headers: the section table, sizes, directory entries, checksum.
  uint32_t rawSize = static_cast<uint32_t>(AlignUp(plan.size, image.fileAlignment));
  uint8_t* rsrcHeader = o + rsrc.headerOffset;
  Put32(rsrcHeader + 8, static_cast<uint32_t>(plan.size));
  Put32(rsrcHeader + 16, rawSize);
  uint8_t* opt = o + image.optionalHeader;
  uint32_t initialized = Get32(opt + kSizeOfInitializedData);
  Put32(opt + kSizeOfInitializedData, initialized - rsrc.rawSize + rawSize);
  Put32(opt + kSizeOfImage, static_cast<uint32_t>(imageEnd));
  uint8_t* directories = o + DirectoryTable(image);
  Put32(directories + 8 * kResourceDirectory + 4, static_cast<uint32_t>(plan.size));
  for (const PeSection& s : moved) {
    Put32(o + s.headerOffset + 12, s.virtualAddress);
    if (s.rawSize) Put32(o + s.headerOffset + 20, s.rawOffset);
    Put32(directories + 8 * kRelocationDirectory, s.virtualAddress);
  }
  uint32_t checksumAt = image.optionalHeader + kCheckSum;
  Put32(opt + kCheckSum, PeChecksum(o, out->size(), checksumAt));

  // The image must read back with the same resources: a stub whose layout
  // this writer cannot carry over is refused here, before anything is saved.
  PeImage back;
  std::string why = ReadPeImage(out->data(), out->size(), &back);
  if (why.empty() && !SameResources(back.resources, image.resources))
    why = "its resources read back differently";
  if (!why.empty()) {
    out->clear();
    return "the stub's layout cannot take these resources (the result " + why + ")";
  }
  return "";
}

uint32_t PeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset) {
  // The 16-bit one's-complement style sum of the file's words, plus its length.
  uint64_t sum = 0;
  size_t words = size / 2;
  for (size_t i = 0; i < words; ++i) {
    size_t at = 2 * i;
    if (at == checksumOffset || at == checksumOffset + 2) continue;
    sum += Get16(bytes + at);  // cannot pass 64 bits: a file has fewer than 2^47 words
  }
  if (size % 2) sum += bytes[size - 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}
