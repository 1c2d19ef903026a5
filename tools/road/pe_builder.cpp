#include "tools/road/pe_builder.h"

#include <algorithm>
#include <map>

namespace vrintest {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kSectionRva = 0x1000;
constexpr size_t kPeOffset = 0x40;
constexpr size_t kFileHeaderOffset = kPeOffset + 4;
constexpr size_t kOptionalHeaderOffset = kFileHeaderOffset + 20;
constexpr size_t kOptionalHeaderSize = 224;
constexpr size_t kSectionTableOffset = kOptionalHeaderOffset + kOptionalHeaderSize;
constexpr size_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSubdirectory = 0x80000000u;

void Put16(std::vector<uint8_t>& b, size_t offset, uint16_t value) {
  if (b.size() < offset + 2) b.resize(offset + 2);
  for (size_t i = 0; i < 2; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Put32(std::vector<uint8_t>& b, size_t offset, uint32_t value) {
  if (b.size() < offset + 4) b.resize(offset + 4);
  for (size_t i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append16(std::vector<uint8_t>& b, uint16_t value) { Put16(b, b.size(), value); }

void Align(std::vector<uint8_t>& b, size_t alignment) { b.resize((b.size() + alignment - 1) / alignment * alignment); }

uint32_t AlignUp(size_t value, uint32_t alignment) {
  return static_cast<uint32_t>((value + alignment - 1) / alignment * alignment);
}

// One block of a version resource: header, key, value, children, each child
// on a 32-bit boundary; wLength counts no trailing padding.
std::vector<uint8_t> Block(const std::string& key, uint16_t type, const std::vector<uint8_t>& value,
                           uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> b;
  Append16(b, 0);
  Append16(b, valueLength);
  Append16(b, type);
  for (char c : key) Append16(b, static_cast<uint8_t>(c));
  Append16(b, 0);
  Align(b, 4);
  b.insert(b.end(), value.begin(), value.end());
  for (const std::vector<uint8_t>& child : children) {
    Align(b, 4);
    b.insert(b.end(), child.begin(), child.end());
  }
  Put16(b, 0, static_cast<uint16_t>(b.size()));
  return b;
}

// The resource section's bytes: directories for type, name and language,
// then the data entries, then the data.
std::vector<uint8_t> ResourceSection(const std::vector<PeResource>& resources) {
  std::map<uint16_t, std::map<uint16_t, std::map<uint16_t, const std::vector<uint8_t>*>>> tree;
  for (const PeResource& r : resources) tree[r.type][r.name][r.language] = &r.data;

  auto directorySize = [](size_t entries) { return 16 + 8 * entries; };
  size_t offset = directorySize(tree.size());
  std::map<uint16_t, size_t> typeOffset;
  std::map<std::pair<uint16_t, uint16_t>, size_t> nameOffset;
  for (const auto& [type, names] : tree) {
    typeOffset[type] = offset;
    offset += directorySize(names.size());
  }
  for (const auto& [type, names] : tree) {
    for (const auto& [name, languages] : names) {
      nameOffset[{type, name}] = offset;
      offset += directorySize(languages.size());
    }
  }
  std::vector<const std::vector<uint8_t>*> leaves;
  std::vector<size_t> entryOffsets;
  for (const auto& [type, names] : tree) {
    for (const auto& [name, languages] : names) {
      for (const auto& [language, data] : languages) {
        leaves.push_back(data);
        entryOffsets.push_back(offset);
        offset += 16;
      }
    }
  }

  std::vector<uint8_t> section(offset);
  auto writeDirectory = [&](size_t at, const std::vector<std::pair<uint16_t, uint32_t>>& entries) {
    Put16(section, at + 14, static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      Put32(section, at + 16 + 8 * i, entries[i].first);
      Put32(section, at + 20 + 8 * i, entries[i].second);
    }
  };
  std::vector<std::pair<uint16_t, uint32_t>> rootEntries;
  for (const auto& [type, names] : tree) {
    rootEntries.emplace_back(type, static_cast<uint32_t>(typeOffset[type]) | kSubdirectory);
  }
  writeDirectory(0, rootEntries);
  size_t leaf = 0;
  for (const auto& [type, names] : tree) {
    std::vector<std::pair<uint16_t, uint32_t>> typeEntries;
    for (const auto& [name, languages] : names) {
      typeEntries.emplace_back(name, static_cast<uint32_t>(nameOffset[{type, name}]) | kSubdirectory);
      std::vector<std::pair<uint16_t, uint32_t>> languageEntries;
      for (const auto& entry : languages) {
        languageEntries.emplace_back(entry.first, static_cast<uint32_t>(entryOffsets[leaf++]));
      }
      writeDirectory(nameOffset[{type, name}], languageEntries);
    }
    writeDirectory(typeOffset[type], typeEntries);
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    Align(section, 4);
    const uint32_t dataRva = kSectionRva + static_cast<uint32_t>(section.size());
    section.insert(section.end(), leaves[i]->begin(), leaves[i]->end());
    Put32(section, entryOffsets[i], dataRva);
    Put32(section, entryOffsets[i] + 4, static_cast<uint32_t>(leaves[i]->size()));
  }
  return section;
}

}  // namespace

std::vector<uint8_t> FixedFileInfo(FileVersion file, FileVersion product) {
  std::vector<uint8_t> b;
  const uint32_t fields[13] = {0xFEEF04BDu,
                               0x00010000u,
                               static_cast<uint32_t>(file.major) << 16 | file.minor,
                               static_cast<uint32_t>(file.build) << 16 | file.revision,
                               static_cast<uint32_t>(product.major) << 16 | product.minor,
                               static_cast<uint32_t>(product.build) << 16 | product.revision,
                               0x3Fu,
                               0u,
                               0x00040004u,  // VOS_NT_WINDOWS32
                               2u,           // VFT_DLL
                               0u,
                               0u,
                               0u};
  for (uint32_t field : fields) Put32(b, b.size(), field);
  return b;
}

std::vector<uint8_t> VersionInfo(FileVersion file, FileVersion product, uint16_t fixedLength) {
  std::vector<uint8_t> fixed = FixedFileInfo(file, product);
  fixed.resize(fixedLength);
  std::vector<uint8_t> translation;
  Put16(translation, 0, 0x0409);
  Put16(translation, 2, 0x04B0);
  std::vector<uint8_t> var = Block("Translation", 0, translation, 4, {});
  std::vector<uint8_t> varFileInfo = Block("VarFileInfo", 1, {}, 0, {var});
  return Block("VS_VERSION_INFO", 0, fixed, fixedLength, {varFileInfo});
}

std::vector<uint8_t> PeImageWith(const std::vector<PeResource>& resources) {
  std::vector<uint8_t> section = resources.empty() ? std::vector<uint8_t>() : ResourceSection(resources);
  const uint32_t rawSize = AlignUp(section.size(), kFileAlignment);
  std::vector<uint8_t> image(kFileAlignment + rawSize);

  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, kPeOffset);
  image[kPeOffset] = 'P';
  image[kPeOffset + 1] = 'E';

  Put16(image, kFileHeaderOffset, 0x014C);                         // i386
  Put16(image, kFileHeaderOffset + 2, resources.empty() ? 0 : 1);  // sections
  Put16(image, kFileHeaderOffset + 16, kOptionalHeaderSize);
  Put16(image, kFileHeaderOffset + 18, 0x2102);  // executable, 32-bit, DLL

  const size_t o = kOptionalHeaderOffset;
  Put16(image, o, 0x10B);  // PE32
  Put32(image, o + 8, rawSize);
  Put32(image, o + 28, 0x10000000);  // image base
  Put32(image, o + 32, kSectionAlignment);
  Put32(image, o + 36, kFileAlignment);
  Put16(image, o + 40, 4);
  Put16(image, o + 48, 4);
  Put32(image, o + 56, kSectionRva + AlignUp(std::max<size_t>(section.size(), 1), kSectionAlignment));
  Put32(image, o + 60, kFileAlignment);
  Put16(image, o + 68, 2);  // Windows GUI
  Put32(image, o + 92, 16);
  if (!resources.empty()) {
    Put32(image, o + 96 + 8 * kResourceDirectoryIndex, kSectionRva);
    Put32(image, o + 100 + 8 * kResourceDirectoryIndex, static_cast<uint32_t>(section.size()));

    const size_t s = kSectionTableOffset;
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    for (size_t i = 0; i < sizeof(name); ++i) image[s + i] = static_cast<uint8_t>(name[i]);
    Put32(image, s + 8, static_cast<uint32_t>(section.size()));
    Put32(image, s + 12, kSectionRva);
    Put32(image, s + 16, rawSize);
    Put32(image, s + 20, kFileAlignment);
    Put32(image, s + 36, 0x40000040);  // initialised data, readable
    std::copy(section.begin(), section.end(), image.begin() + kFileAlignment);
  }
  return image;
}

std::string VersionedDll(FileVersion file) {
  return AsText(PeImageWith({{kRtVersion, 1, kLangEnglishUs, VersionInfo(file, file)}}));
}

std::string UnversionedDll() { return AsText(PeImageWith({{kRtRcData, 1, kLangEnglishUs, {'d', 'a', 't', 'a'}}})); }

}  // namespace vrintest
