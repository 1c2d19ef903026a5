#include "host/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

namespace host {

namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosNewHeaderField = 0x3c;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
// Optional-header offsets of NumberOfRvaAndSizes; the directories follow it.
constexpr size_t kPe32DirectoryCountField = 92;
constexpr size_t kPe32PlusDirectoryCountField = 108;
constexpr size_t kMaxDirectories = 16;
constexpr size_t kExportDirectorySize = 40;
constexpr size_t kImportDescriptorSize = 20;
constexpr size_t kResourceDirectorySize = 16;
constexpr size_t kResourceEntrySize = 8;
constexpr size_t kResourceDataEntrySize = 16;
constexpr uint32_t kHighBit32 = 0x80000000u;
constexpr uint64_t kHighBit64 = 0x8000000000000000ull;
// No PE image comes near this; it keeps a wrong path from exhausting memory.
constexpr std::streamoff kMaxFileSize = 512 * 1024 * 1024;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

bool Fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

void ClearError(std::string* error) {
  if (error != nullptr) error->clear();
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<PeImage> PeImage::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    Fail(error, "cannot open " + path);
    return std::nullopt;
  }
  std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxFileSize) {
    Fail(error, "unexpected size of " + path);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    Fail(error, "cannot read " + path);
    return std::nullopt;
  }
  return Parse(std::move(bytes), error);
}

std::optional<PeImage> PeImage::Parse(std::vector<uint8_t> bytes, std::string* error) {
  ClearError(error);
  PeImage image;
  image.bytes_ = std::move(bytes);
  const std::vector<uint8_t>& b = image.bytes_;
  const uint64_t fileSize = b.size();

  if (fileSize < kDosHeaderSize) {
    Fail(error, "file too small for a DOS header");
    return std::nullopt;
  }
  if (b[0] != 'M' || b[1] != 'Z') {
    Fail(error, "no MZ signature");
    return std::nullopt;
  }
  const uint64_t peOffset = Get32(&b[kDosNewHeaderField]);
  if (peOffset + 4 + kFileHeaderSize > fileSize) {
    Fail(error, "PE header beyond the end of the file");
    return std::nullopt;
  }
  if (std::memcmp(&b[peOffset], "PE\0\0", 4) != 0) {
    Fail(error, "no PE signature");
    return std::nullopt;
  }

  const uint8_t* fileHeader = &b[peOffset + 4];
  image.machine_ = Get16(fileHeader);
  const uint16_t sectionCount = Get16(fileHeader + 2);
  const uint16_t optionalHeaderSize = Get16(fileHeader + 16);
  image.characteristics_ = Get16(fileHeader + 18);

  const uint64_t optionalOffset = peOffset + 4 + kFileHeaderSize;
  if (optionalOffset + optionalHeaderSize > fileSize) {
    Fail(error, "optional header truncated");
    return std::nullopt;
  }
  if (optionalHeaderSize < 2) {
    Fail(error, "no optional header");
    return std::nullopt;
  }
  const uint8_t* optional = &b[optionalOffset];
  const uint16_t magic = Get16(optional);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) {
    Fail(error, "unknown optional header magic");
    return std::nullopt;
  }
  image.pe32Plus_ = magic == kPe32PlusMagic;
  const size_t countField = image.pe32Plus_ ? kPe32PlusDirectoryCountField : kPe32DirectoryCountField;
  if (optionalHeaderSize < countField + 4) {
    Fail(error, "optional header too small");
    return std::nullopt;
  }
  // Directories past the count, or past the header's declared size, are absent.
  const size_t directoryCount =
      std::min<uint64_t>({Get32(optional + countField), (optionalHeaderSize - countField - 4) / 8, kMaxDirectories});
  for (size_t i = 0; i < directoryCount; ++i) {
    const uint8_t* entry = optional + countField + 4 + i * 8;
    image.directories_.push_back({Get32(entry), Get32(entry + 4)});
  }

  const uint64_t sectionTable = optionalOffset + optionalHeaderSize;
  if (sectionTable + uint64_t{sectionCount} * kSectionHeaderSize > fileSize) {
    Fail(error, "section table truncated");
    return std::nullopt;
  }
  for (size_t i = 0; i < sectionCount; ++i) {
    const uint8_t* header = &b[sectionTable + i * kSectionHeaderSize];
    Section section{Get32(header + 12), Get32(header + 8), Get32(header + 20), Get32(header + 16)};
    // The loader refuses an image whose section data is cut off; so do we.
    if (section.rawSize != 0 && uint64_t{section.rawOffset} + section.rawSize > fileSize) {
      Fail(error, "section " + std::to_string(i + 1) + " extends beyond the end of the file");
      return std::nullopt;
    }
    image.sections_.push_back(section);
  }
  return image;
}

PeImage::DataDirectory PeImage::Directory(DirectoryIndex index) const {
  return static_cast<size_t>(index) < directories_.size() ? directories_[index] : DataDirectory{};
}

std::optional<size_t> PeImage::RvaToOffset(uint32_t rva, size_t* available) const {
  for (const Section& s : sections_) {
    // The mapped extent is VirtualSize; an old linker may leave it zero.
    const uint64_t span = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
    if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
    const uint64_t delta = rva - s.virtualAddress;
    // Past the raw data the section is zero fill, which has no file bytes.
    const uint64_t inFile = std::min<uint64_t>(span, s.rawSize);
    if (delta >= inFile) return std::nullopt;
    const uint64_t offset = uint64_t{s.rawOffset} + delta;
    if (offset >= bytes_.size()) return std::nullopt;
    *available = static_cast<size_t>(std::min<uint64_t>(inFile - delta, bytes_.size() - offset));
    return static_cast<size_t>(offset);
  }
  return std::nullopt;
}

bool PeImage::ReadRva32(uint32_t rva, uint32_t* value) const {
  size_t available = 0;
  std::optional<size_t> offset = RvaToOffset(rva, &available);
  if (!offset || available < 4) return false;
  *value = Get32(&bytes_[*offset]);
  return true;
}

bool PeImage::ReadRva64(uint32_t rva, uint64_t* value) const {
  size_t available = 0;
  std::optional<size_t> offset = RvaToOffset(rva, &available);
  if (!offset || available < 8) return false;
  *value = Get64(&bytes_[*offset]);
  return true;
}

bool PeImage::ReadRvaBytes(uint32_t rva, size_t count, std::vector<uint8_t>* out) const {
  size_t available = 0;
  std::optional<size_t> offset = RvaToOffset(rva, &available);
  if (!offset || available < count) return false;
  out->assign(bytes_.begin() + *offset, bytes_.begin() + *offset + count);
  return true;
}

bool PeImage::ReadRvaString(uint32_t rva, std::string* out) const {
  size_t available = 0;
  std::optional<size_t> offset = RvaToOffset(rva, &available);
  if (!offset) return false;
  const uint8_t* start = &bytes_[*offset];
  const void* end = std::memchr(start, 0, available);
  if (end == nullptr) return false;
  out->assign(reinterpret_cast<const char*>(start), static_cast<const uint8_t*>(end) - start);
  return true;
}

std::vector<std::string> PeImage::ExportNames(std::string* error) const {
  ClearError(error);
  const DataDirectory directory = Directory(kExportDirectory);
  if (directory.rva == 0) return {};
  std::vector<uint8_t> header;
  if (!ReadRvaBytes(directory.rva, kExportDirectorySize, &header)) {
    Fail(error, "export directory outside the image");
    return {};
  }
  const uint32_t nameCount = Get32(&header[24]);
  const uint32_t nameTable = Get32(&header[32]);
  if (nameCount == 0) return {};
  // Checking the whole table first also keeps a huge count from driving the loop.
  size_t available = 0;
  if (!RvaToOffset(nameTable, &available) || available / 4 < nameCount) {
    Fail(error, "export name table outside the image");
    return {};
  }
  std::vector<std::string> names;
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint32_t nameRva = 0;
    std::string name;
    if (!ReadRva32(nameTable + i * 4, &nameRva) || !ReadRvaString(nameRva, &name)) {
      Fail(error, "export name " + std::to_string(i) + " outside the image");
      return {};
    }
    names.push_back(std::move(name));
  }
  return names;
}

std::string PeImage::ExportDllName(std::string* error) const {
  ClearError(error);
  const DataDirectory directory = Directory(kExportDirectory);
  if (directory.rva == 0) return {};
  std::vector<uint8_t> header;
  if (!ReadRvaBytes(directory.rva, kExportDirectorySize, &header)) {
    Fail(error, "export directory outside the image");
    return {};
  }
  std::string name;
  if (!ReadRvaString(Get32(&header[12]), &name)) {
    Fail(error, "export DLL name outside the image");
    return {};
  }
  return name;
}

bool PeImage::ImportDescriptors(std::vector<std::pair<uint32_t, uint32_t>>* out, std::string* error) const {
  const DataDirectory directory = Directory(kImportDirectory);
  if (directory.rva == 0) return true;
  // The table ends with an all-zero descriptor; one that runs out of its
  // section first is malformed. Each step consumes section bytes, so it ends.
  for (uint64_t rva = directory.rva;; rva += kImportDescriptorSize) {
    std::vector<uint8_t> descriptor;
    if (rva > UINT32_MAX || !ReadRvaBytes(static_cast<uint32_t>(rva), kImportDescriptorSize, &descriptor)) {
      return Fail(error, "import directory outside the image or not terminated");
    }
    if (std::all_of(descriptor.begin(), descriptor.end(), [](uint8_t x) { return x == 0; })) return true;
    const uint32_t lookupTable = Get32(&descriptor[0]);
    const uint32_t addressTable = Get32(&descriptor[16]);
    // Without a lookup table the address table holds the names until binding.
    out->emplace_back(Get32(&descriptor[12]), lookupTable != 0 ? lookupTable : addressTable);
  }
}

std::vector<std::string> PeImage::ImportDllNames(std::string* error) const {
  ClearError(error);
  std::vector<std::pair<uint32_t, uint32_t>> descriptors;
  if (!ImportDescriptors(&descriptors, error)) return {};
  std::vector<std::string> names;
  for (const auto& descriptor : descriptors) {
    std::string name;
    if (!ReadRvaString(descriptor.first, &name)) {
      Fail(error, "imported DLL name outside the image");
      return {};
    }
    names.push_back(std::move(name));
  }
  return names;
}

std::vector<std::string> PeImage::ImportedFunctions(const std::string& dll, std::string* error) const {
  ClearError(error);
  std::vector<std::pair<uint32_t, uint32_t>> descriptors;
  if (!ImportDescriptors(&descriptors, error)) return {};
  const uint32_t thunkSize = pe32Plus_ ? 8 : 4;
  bool found = false;
  std::vector<std::string> functions;
  for (const auto& descriptor : descriptors) {
    std::string name;
    if (!ReadRvaString(descriptor.first, &name)) {
      Fail(error, "imported DLL name outside the image");
      return {};
    }
    if (!EqualsIgnoringCase(name, dll)) continue;
    found = true;
    for (uint64_t rva = descriptor.second;; rva += thunkSize) {
      uint64_t thunk = 0;
      uint32_t thunk32 = 0;
      bool read = rva <= UINT32_MAX && (pe32Plus_ ? ReadRva64(static_cast<uint32_t>(rva), &thunk)
                                                  : ReadRva32(static_cast<uint32_t>(rva), &thunk32));
      if (!read) {
        Fail(error, "import lookup table of " + name + " outside the image or not terminated");
        return {};
      }
      if (!pe32Plus_) thunk = (thunk32 & kHighBit32) != 0 ? (kHighBit64 | (thunk32 & 0xFFFF)) : thunk32;
      if (thunk == 0) break;
      if ((thunk & kHighBit64) != 0) {
        functions.push_back("#" + std::to_string(thunk & 0xFFFF));
        continue;
      }
      // A hint/name entry: a two-byte hint, then the name.
      std::string function;
      if (thunk > UINT32_MAX - 2 || !ReadRvaString(static_cast<uint32_t>(thunk) + 2, &function)) {
        Fail(error, "imported function name of " + name + " outside the image");
        return {};
      }
      functions.push_back(std::move(function));
    }
  }
  if (!found) Fail(error, dll + " is not imported");
  return functions;
}

bool PeImage::ResourceEntries(uint32_t directoryOffset, std::vector<ResourceEntry>* out, std::string* error) const {
  const uint64_t rva = uint64_t{Directory(kResourceDirectory).rva} + directoryOffset;
  std::vector<uint8_t> header;
  if (rva > UINT32_MAX || !ReadRvaBytes(static_cast<uint32_t>(rva), kResourceDirectorySize, &header)) {
    return Fail(error, "resource directory outside the image");
  }
  // Named entries come first, then those with IDs.
  const size_t count = size_t{Get16(&header[12])} + Get16(&header[14]);
  std::vector<uint8_t> entries;
  if (!ReadRvaBytes(static_cast<uint32_t>(rva), kResourceDirectorySize + count * kResourceEntrySize, &entries)) {
    return Fail(error, "resource directory entries outside the image");
  }
  out->clear();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = &entries[kResourceDirectorySize + i * kResourceEntrySize];
    const uint32_t nameField = Get32(entry);
    const uint32_t target = Get32(entry + 4);
    out->push_back({(nameField & kHighBit32) != 0, static_cast<uint16_t>(nameField & 0xFFFF),
                    (target & kHighBit32) != 0, target & ~kHighBit32});
  }
  return true;
}

std::optional<uint32_t> PeImage::ResourceLanguageDirectory(uint16_t type, uint16_t name, std::string* error) const {
  if (Directory(kResourceDirectory).rva == 0) return std::nullopt;
  // Type, then name; each must lead to a further directory not seen before,
  // so that a directory pointing back at an ancestor is reported, not followed.
  std::vector<uint32_t> visited{0};
  uint32_t directory = 0;
  for (uint16_t id : {type, name}) {
    std::vector<ResourceEntry> entries;
    if (!ResourceEntries(directory, &entries, error)) return std::nullopt;
    auto it =
        std::find_if(entries.begin(), entries.end(), [id](const ResourceEntry& e) { return !e.named && e.id == id; });
    if (it == entries.end()) return std::nullopt;
    if (!it->subdirectory) {
      Fail(error, "resource entry " + std::to_string(id) + " is not a directory");
      return std::nullopt;
    }
    if (std::find(visited.begin(), visited.end(), it->offset) != visited.end()) {
      Fail(error, "resource directory loop");
      return std::nullopt;
    }
    visited.push_back(it->offset);
    directory = it->offset;
  }
  return directory;
}

std::optional<std::vector<uint8_t>> PeImage::FindResourceData(uint16_t type, uint16_t name, uint16_t lang,
                                                              std::string* error) const {
  ClearError(error);
  std::optional<uint32_t> languages = ResourceLanguageDirectory(type, name, error);
  if (!languages) return std::nullopt;
  std::vector<ResourceEntry> entries;
  if (!ResourceEntries(*languages, &entries, error)) return std::nullopt;
  auto it = std::find_if(entries.begin(), entries.end(),
                         [lang](const ResourceEntry& e) { return !e.named && (lang == kAnyLanguage || e.id == lang); });
  if (it == entries.end()) return std::nullopt;
  if (it->subdirectory) {
    Fail(error, "resource language entry is a directory");
    return std::nullopt;
  }
  // The data entry is found by directory offset, but holds an RVA of the data.
  const uint64_t entryRva = uint64_t{Directory(kResourceDirectory).rva} + it->offset;
  std::vector<uint8_t> entry;
  if (entryRva > UINT32_MAX || !ReadRvaBytes(static_cast<uint32_t>(entryRva), kResourceDataEntrySize, &entry)) {
    Fail(error, "resource data entry outside the image");
    return std::nullopt;
  }
  std::vector<uint8_t> data;
  if (!ReadRvaBytes(Get32(&entry[0]), Get32(&entry[4]), &data)) {
    Fail(error, "resource data outside the image");
    return std::nullopt;
  }
  return data;
}

std::vector<uint16_t> PeImage::ResourceLanguages(uint16_t type, uint16_t name, std::string* error) const {
  ClearError(error);
  std::optional<uint32_t> languages = ResourceLanguageDirectory(type, name, error);
  std::vector<ResourceEntry> entries;
  if (!languages || !ResourceEntries(*languages, &entries, error)) return {};
  std::vector<uint16_t> ids;
  for (const ResourceEntry& e : entries) {
    if (!e.named) ids.push_back(e.id);
  }
  return ids;
}

std::optional<FixedFileInfo> ParseVersionResource(const std::vector<uint8_t>& data) {
  // VS_VERSIONINFO: wLength, wValueLength, wType, the UTF-16 key
  // "VS_VERSION_INFO" with its terminator, padding to 32 bits, then the value.
  static const char kKey[] = "VS_VERSION_INFO";
  constexpr size_t kKeyOffset = 6;
  constexpr size_t kKeyBytes = sizeof(kKey) * 2;
  constexpr size_t kValueOffset = (kKeyOffset + kKeyBytes + 3) & ~size_t{3};
  constexpr size_t kFixedFileInfoSize = 13 * 4;

  if (data.size() < kKeyOffset) return std::nullopt;
  const size_t length = Get16(&data[0]);
  const size_t valueLength = Get16(&data[2]);
  if (length > data.size() || length < kValueOffset + kFixedFileInfoSize || valueLength < kFixedFileInfoSize) {
    return std::nullopt;
  }
  for (size_t i = 0; i < sizeof(kKey); ++i) {
    if (Get16(&data[kKeyOffset + 2 * i]) != static_cast<uint8_t>(kKey[i])) return std::nullopt;
  }
  uint32_t v[13];
  for (size_t i = 0; i < 13; ++i) v[i] = Get32(&data[kValueOffset + 4 * i]);
  if (v[0] != kFixedFileInfoSignature) return std::nullopt;
  return FixedFileInfo{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12]};
}

}  // namespace host
