#include "host/pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

using host::PeImage;

void Put16(std::vector<uint8_t>& b, size_t offset, uint16_t value) {
  for (size_t i = 0; i < 2; ++i) b.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

void Put32(std::vector<uint8_t>& b, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) b.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

void Put64(std::vector<uint8_t>& b, size_t offset, uint64_t value) {
  for (size_t i = 0; i < 8; ++i) b.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(b.at(offset + i)) << (8 * i);
  return value;
}

// The tiny images have one section holding everything.
constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x200;
constexpr uint32_t kFarRva = 0x7fff0000;  // in no section

size_t FileOffset(uint32_t rva) { return kSectionFileOffset + (rva - kSectionRva); }

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The contents of the section, addressed by RVA while they are laid out.
class SectionBuilder {
 public:
  uint32_t Rva() const { return kSectionRva + static_cast<uint32_t>(data_.size()); }
  void Align(size_t alignment) { data_.resize(AlignUp(data_.size(), alignment)); }
  uint32_t AddZeros(size_t count) {
    uint32_t rva = Rva();
    data_.resize(data_.size() + count);
    return rva;
  }
  uint32_t AddBytes(const std::vector<uint8_t>& bytes) {
    uint32_t rva = Rva();
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return rva;
  }
  uint32_t AddString(const std::string& text) {
    uint32_t rva = Rva();
    data_.insert(data_.end(), text.begin(), text.end());
    data_.push_back(0);
    return rva;
  }
  void Set16(uint32_t rva, uint16_t value) { Put16(data_, rva - kSectionRva, value); }
  void Set32(uint32_t rva, uint32_t value) { Put32(data_, rva - kSectionRva, value); }
  void Set64(uint32_t rva, uint64_t value) { Put64(data_, rva - kSectionRva, value); }
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

struct TinyResource {
  uint16_t type;
  uint16_t name;
  uint16_t lang;
  std::vector<uint8_t> data;
};

// A resource tree as a resource compiler lays it out: the type, name and
// language directories (entries in ascending ID order), the data entries, then the data.
std::vector<uint8_t> BuildResourceTree(const std::vector<TinyResource>& resources, uint32_t baseRva) {
  std::map<uint16_t, std::map<uint16_t, std::map<uint16_t, const TinyResource*>>> tree;
  for (const TinyResource& r : resources) tree[r.type][r.name][r.lang] = &r;
  std::vector<uint8_t> out;
  auto addDirectory = [&out](size_t count) {
    size_t offset = out.size();
    out.resize(offset + 16 + 8 * count);
    Put16(out, offset + 14, static_cast<uint16_t>(count));
    return offset;
  };
  auto setEntry = [&out](size_t directory, size_t index, uint32_t id, uint32_t target) {
    Put32(out, directory + 16 + 8 * index, id);
    Put32(out, directory + 20 + 8 * index, target);
  };
  std::vector<std::pair<size_t, const TinyResource*>> leaves;  // language entry, resource
  size_t root = addDirectory(tree.size());
  size_t typeIndex = 0;
  for (const auto& type : tree) {
    size_t typeDirectory = addDirectory(type.second.size());
    setEntry(root, typeIndex++, type.first, static_cast<uint32_t>(typeDirectory) | 0x80000000u);
    size_t nameIndex = 0;
    for (const auto& name : type.second) {
      size_t nameDirectory = addDirectory(name.second.size());
      setEntry(typeDirectory, nameIndex++, name.first, static_cast<uint32_t>(nameDirectory) | 0x80000000u);
      size_t langIndex = 0;
      for (const auto& lang : name.second) {
        leaves.emplace_back(nameDirectory + 16 + 8 * langIndex, lang.second);
        setEntry(nameDirectory, langIndex++, lang.first, 0);
      }
    }
  }
  std::vector<size_t> dataEntries;
  for (const auto& leaf : leaves) {
    dataEntries.push_back(out.size());
    Put32(out, leaf.first + 4, static_cast<uint32_t>(out.size()));
    out.resize(out.size() + 16);
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    out.resize(AlignUp(out.size(), 4));
    Put32(out, dataEntries[i], baseRva + static_cast<uint32_t>(out.size()));
    Put32(out, dataEntries[i] + 4, static_cast<uint32_t>(leaves[i].second->data.size()));
    out.insert(out.end(), leaves[i].second->data.begin(), leaves[i].second->data.end());
  }
  return out;
}

// A VS_VERSIONINFO block with only its fixed part, as the version API reads it.
std::vector<uint8_t> VersionBlock(uint32_t fileMS, uint32_t fileLS, uint32_t productMS, uint32_t productLS) {
  std::vector<uint8_t> block(6);
  for (char c : std::string("VS_VERSION_INFO")) {
    block.push_back(static_cast<uint8_t>(c));
    block.push_back(0);
  }
  block.resize(block.size() + 2);
  block.resize(AlignUp(block.size(), 4));
  const uint32_t fixed[13] = {
      host::kFixedFileInfoSignature, 0x10000, fileMS, fileLS, productMS, productLS, 0x3f, 0, 0x40004, 2, 0, 0, 0};
  for (uint32_t word : fixed) {
    block.resize(block.size() + 4);
    Put32(block, block.size() - 4, word);
  }
  Put16(block, 0, static_cast<uint16_t>(block.size()));
  Put16(block, 2, 52);
  return block;
}

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

const std::vector<TinyResource>& DefaultResources() {
  static const std::vector<TinyResource> resources = {
      {host::kResourceTypeVersion, 1, 0x409, VersionBlock(0x00020003, 0x00040005, 0x00060007, 0x00080009)},
      {host::kResourceTypeMessageTable, 1, 0x409, Text("english")},
      {host::kResourceTypeMessageTable, 1, 0x407, Text("deutsch")},
  };
  return resources;
}

struct TinyImport {
  std::string dll;
  std::vector<std::string> functions;  // "#N" imports ordinal N
};

// A DLL exporting Alpha and Beta as tiny.dll, importing from KERNEL32.dll and
// msi.dll, with the given resources.
struct TinyPe {
  std::vector<uint8_t> bytes;
  // Where the tests damage it: file offsets and RVAs.
  size_t dataDirectories = 0;
  size_t sectionHeader = 0;
  uint32_t exportDirectory = 0;
  uint32_t exportNameTable = 0;
  uint32_t importDescriptors = 0;
  uint32_t resourceRoot = 0;
  uint32_t sectionEnd = 0;  // the RVA just past the section's contents
};

TinyPe BuildTinyPe(bool pe32Plus, const std::vector<TinyResource>& resources = DefaultResources()) {
  TinyPe pe;
  SectionBuilder s;

  // Stand-ins for the code of the two functions, outside the export data.
  const uint32_t code = s.AddZeros(8);
  // The export data as a linker lays it out: the directory, the address,
  // name and ordinal tables, then the names.
  pe.exportDirectory = s.AddZeros(40);
  const uint32_t functions = s.AddZeros(8);
  pe.exportNameTable = s.AddZeros(8);
  const uint32_t ordinals = s.AddZeros(4);
  const uint32_t dllName = s.AddString("tiny.dll");
  s.Set32(functions, code);
  s.Set32(functions + 4, code + 4);
  s.Set32(pe.exportNameTable, s.AddString("Alpha"));
  s.Set32(pe.exportNameTable + 4, s.AddString("Beta"));
  s.Set16(ordinals, 0);
  s.Set16(ordinals + 2, 1);
  s.Set32(pe.exportDirectory + 12, dllName);
  s.Set32(pe.exportDirectory + 16, 1);
  s.Set32(pe.exportDirectory + 20, 2);
  s.Set32(pe.exportDirectory + 24, 2);
  s.Set32(pe.exportDirectory + 28, functions);
  s.Set32(pe.exportDirectory + 32, pe.exportNameTable);
  s.Set32(pe.exportDirectory + 36, ordinals);
  const uint32_t exportSize = s.Rva() - pe.exportDirectory;

  const std::vector<TinyImport> imports = {{"KERNEL32.dll", {"GetLastError", "#7", "SetLastError"}},
                                           {"msi.dll", {"MsiCloseHandle"}}};
  const uint32_t thunkSize = pe32Plus ? 8 : 4;
  s.Align(4);
  pe.importDescriptors = s.AddZeros(20 * (imports.size() + 1));
  for (size_t i = 0; i < imports.size(); ++i) {
    const uint32_t descriptor = pe.importDescriptors + static_cast<uint32_t>(20 * i);
    s.Set32(descriptor + 12, s.AddString(imports[i].dll));
    std::vector<uint64_t> thunks;
    for (const std::string& function : imports[i].functions) {
      if (function[0] == '#') {
        const uint64_t ordinal = std::stoul(function.substr(1));
        thunks.push_back(pe32Plus ? (0x8000000000000000ull | ordinal) : (0x80000000u | ordinal));
      } else {
        s.Align(2);
        thunks.push_back(s.AddZeros(2));  // the hint
        s.AddString(function);
      }
    }
    s.Align(8);
    const uint32_t lookup = s.AddZeros(thunkSize * (thunks.size() + 1));
    const uint32_t address = s.AddZeros(thunkSize * (thunks.size() + 1));
    for (size_t k = 0; k < thunks.size(); ++k) {
      for (uint32_t table : {lookup, address}) {
        const uint32_t rva = table + static_cast<uint32_t>(thunkSize * k);
        pe32Plus ? s.Set64(rva, thunks[k]) : s.Set32(rva, static_cast<uint32_t>(thunks[k]));
      }
    }
    s.Set32(descriptor, lookup);
    s.Set32(descriptor + 16, address);
  }

  s.Align(4);
  pe.resourceRoot = s.Rva();
  s.AddBytes(BuildResourceTree(resources, pe.resourceRoot));
  const uint32_t resourceSize = s.Rva() - pe.resourceRoot;
  pe.sectionEnd = s.Rva();

  const size_t contentSize = s.Data().size();
  const size_t rawSize = AlignUp(contentSize, 0x200);
  const size_t optionalSize = pe32Plus ? 240 : 224;
  std::vector<uint8_t>& b = pe.bytes;
  b.resize(kSectionFileOffset + rawSize);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3c, 0x40);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  Put16(b, 0x44, pe32Plus ? host::kImageFileMachineAmd64 : host::kImageFileMachineI386);
  Put16(b, 0x46, 1);
  Put16(b, 0x54, static_cast<uint16_t>(optionalSize));
  Put16(b, 0x56, host::kImageFileDll | 0x0002 | (pe32Plus ? 0x0020 : 0x0100));
  const size_t optional = 0x58;
  Put16(b, optional, pe32Plus ? 0x20b : 0x10b);
  pe32Plus ? Put64(b, optional + 24, 0x180000000ull) : Put32(b, optional + 28, 0x10000000);
  Put32(b, optional + 32, 0x1000);
  Put32(b, optional + 36, 0x200);
  Put32(b, optional + 56, static_cast<uint32_t>(kSectionRva + AlignUp(contentSize, 0x1000)));
  Put32(b, optional + 60, kSectionFileOffset);
  Put16(b, optional + 68, 2);
  const size_t countField = optional + (pe32Plus ? 108 : 92);
  Put32(b, countField, 16);
  pe.dataDirectories = countField + 4;
  Put32(b, pe.dataDirectories, pe.exportDirectory);
  Put32(b, pe.dataDirectories + 4, exportSize);
  Put32(b, pe.dataDirectories + 8, pe.importDescriptors);
  Put32(b, pe.dataDirectories + 12, static_cast<uint32_t>(20 * (imports.size() + 1)));
  if (!resources.empty()) {
    Put32(b, pe.dataDirectories + 16, pe.resourceRoot);
    Put32(b, pe.dataDirectories + 20, resourceSize);
  }
  pe.sectionHeader = optional + optionalSize;
  std::memcpy(&b[pe.sectionHeader], ".data", 5);
  Put32(b, pe.sectionHeader + 8, static_cast<uint32_t>(contentSize));
  Put32(b, pe.sectionHeader + 12, kSectionRva);
  Put32(b, pe.sectionHeader + 16, static_cast<uint32_t>(rawSize));
  Put32(b, pe.sectionHeader + 20, kSectionFileOffset);
  Put32(b, pe.sectionHeader + 36, 0xC0000040);
  std::copy(s.Data().begin(), s.Data().end(), b.begin() + kSectionFileOffset);
  return pe;
}

std::optional<PeImage> ParseOrFail(std::vector<uint8_t> bytes) {
  std::string error;
  std::optional<PeImage> image = PeImage::Parse(std::move(bytes), &error);
  EXPECT_TRUE(image.has_value()) << error;
  return image;
}

// Calls every reader of the image; what matters is that none crashes or hangs.
void ReadEverything(const PeImage& image) {
  std::string error;
  image.ExportNames(&error);
  image.ExportDllName(&error);
  for (const std::string& dll : image.ImportDllNames(&error)) image.ImportedFunctions(dll, &error);
  image.ImportedFunctions("KERNEL32.dll", &error);
  for (uint16_t type : {host::kResourceTypeVersion, host::kResourceTypeMessageTable}) {
    image.ResourceLanguages(type, 1, &error);
    std::optional<std::vector<uint8_t>> data = image.FindResourceData(type, 1, host::kAnyLanguage, &error);
    if (data) host::ParseVersionResource(*data);
  }
}

// The offset within the resource tree of the entry with the given ID in the
// directory at directoryOffset, read from the image bytes.
size_t ResourceEntryOffset(const TinyPe& pe, size_t directoryOffset, uint16_t id) {
  const size_t root = FileOffset(pe.resourceRoot);
  const size_t count = pe.bytes.at(root + directoryOffset + 14) | (pe.bytes.at(root + directoryOffset + 15) << 8);
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = directoryOffset + 16 + 8 * i;
    if (Get32(pe.bytes, root + entry) == id) return entry;
  }
  ADD_FAILURE() << "no resource entry " << id;
  return 0;
}

size_t ResourceTarget(const TinyPe& pe, size_t entry) {
  return Get32(pe.bytes, FileOffset(pe.resourceRoot) + entry + 4) & 0x7fffffff;
}

class TinyPeTest : public ::testing::TestWithParam<bool> {
 protected:
  bool Pe32Plus() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Formats, TinyPeTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pe32Plus" : "Pe32"; });

TEST_P(TinyPeTest, ReadsTheHeaders) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->IsPe32Plus(), Pe32Plus());
  EXPECT_EQ(image->Machine(), Pe32Plus() ? host::kImageFileMachineAmd64 : host::kImageFileMachineI386);
  EXPECT_NE(image->Characteristics() & host::kImageFileDll, 0);
}

TEST_P(TinyPeTest, ReadsTheExports) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  std::string error = "stale";
  EXPECT_EQ(image->ExportNames(&error), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(error, "");
  EXPECT_EQ(image->ExportDllName(&error), "tiny.dll");
  EXPECT_EQ(error, "");
}

TEST_P(TinyPeTest, ReadsTheImportsByNameAndOrdinal) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_EQ(image->ImportDllNames(&error), (std::vector<std::string>{"KERNEL32.dll", "msi.dll"}));
  EXPECT_EQ(error, "");
  EXPECT_EQ(image->ImportedFunctions("kernel32.DLL", &error),
            (std::vector<std::string>{"GetLastError", "#7", "SetLastError"}));
  EXPECT_EQ(error, "");
  EXPECT_EQ(image->ImportedFunctions("msi.dll", &error), (std::vector<std::string>{"MsiCloseHandle"}));
  EXPECT_EQ(error, "");
}

TEST_P(TinyPeTest, FunctionsOfADllNotImportedAreAnError) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ImportedFunctions("NETAPI32.dll", &error).empty());
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, FindsResourcesByLanguage) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_EQ(image->ResourceLanguages(host::kResourceTypeMessageTable, 1, &error),
            (std::vector<uint16_t>{0x407, 0x409}));
  EXPECT_EQ(image->FindResourceData(host::kResourceTypeMessageTable, 1, 0x409, &error), Text("english"));
  EXPECT_EQ(image->FindResourceData(host::kResourceTypeMessageTable, 1, 0x407, &error), Text("deutsch"));
  // Any language: the first listed.
  EXPECT_EQ(image->FindResourceData(host::kResourceTypeMessageTable, 1, host::kAnyLanguage, &error), Text("deutsch"));
  EXPECT_EQ(error, "");
}

TEST_P(TinyPeTest, AbsentResourcesAreNotErrors) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_FALSE(image->FindResourceData(host::kResourceTypeMessageTable, 1, 0x40c, &error));
  EXPECT_FALSE(image->FindResourceData(host::kResourceTypeMessageTable, 2, host::kAnyLanguage, &error));
  EXPECT_FALSE(image->FindResourceData(6, 1, host::kAnyLanguage, &error));
  EXPECT_TRUE(image->ResourceLanguages(6, 1, &error).empty());
  EXPECT_EQ(error, "");

  std::optional<PeImage> bare = ParseOrFail(BuildTinyPe(Pe32Plus(), {}).bytes);
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->FindResourceData(host::kResourceTypeVersion, 1, host::kAnyLanguage, &error));
  EXPECT_EQ(error, "");
}

TEST_P(TinyPeTest, ReadsTheFixedFileInfo) {
  std::optional<PeImage> image = ParseOrFail(BuildTinyPe(Pe32Plus()).bytes);
  ASSERT_TRUE(image);
  std::optional<std::vector<uint8_t>> data = image->FindResourceData(host::kResourceTypeVersion, 1);
  ASSERT_TRUE(data);
  std::optional<host::FixedFileInfo> info = host::ParseVersionResource(*data);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->signature, host::kFixedFileInfoSignature);
  EXPECT_EQ(info->fileVersionMS, 0x00020003u);
  EXPECT_EQ(info->fileVersionLS, 0x00040005u);
  EXPECT_EQ(info->productVersionMS, 0x00060007u);
  EXPECT_EQ(info->productVersionLS, 0x00080009u);
  EXPECT_EQ(info->fileType, 2u);
}

// Directories beyond NumberOfRvaAndSizes are absent even if bytes are there.
TEST_P(TinyPeTest, HonoursTheDirectoryCount) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, pe.dataDirectories - 4, 1);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_EQ(image->ExportNames(&error).size(), 2u);
  EXPECT_TRUE(image->ImportDllNames(&error).empty());
  EXPECT_EQ(error, "");

  Put32(pe.bytes, pe.dataDirectories - 4, 0xffffffff);
  image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->ImportDllNames(&error).size(), 2u);
}

TEST(PeImageTest, EmptyFileIsAnError) {
  std::string error;
  EXPECT_FALSE(PeImage::Parse({}, &error));
  EXPECT_NE(error, "");
}

TEST(PeImageTest, MissingFileIsAnError) {
  std::string error;
  EXPECT_FALSE(PeImage::Load(VRINCA_BINARY_DIR "/no-such-file.dll", &error));
  EXPECT_NE(error, "");
}

// The section data reaches the end of the tiny image, so every shorter
// prefix is truncated somewhere: in the headers, the section table or the data.
TEST_P(TinyPeTest, EveryTruncationIsAnError) {
  const std::vector<uint8_t> whole = BuildTinyPe(Pe32Plus()).bytes;
  for (size_t size = 0; size < whole.size(); ++size) {
    std::string error;
    EXPECT_FALSE(PeImage::Parse(std::vector<uint8_t>(whole.begin(), whole.begin() + size), &error)) << size;
    EXPECT_NE(error, "") << size;
  }
}

TEST_P(TinyPeTest, BadSignaturesAreErrors) {
  const TinyPe pe = BuildTinyPe(Pe32Plus());
  std::string error;
  for (size_t offset : {size_t{0}, size_t{1}, size_t{0x40}, size_t{0x41}, size_t{0x42}}) {
    std::vector<uint8_t> bytes = pe.bytes;
    bytes[offset] ^= 0x20;
    EXPECT_FALSE(PeImage::Parse(bytes, &error)) << offset;
    EXPECT_NE(error, "");
  }
  std::vector<uint8_t> bytes = pe.bytes;
  Put16(bytes, 0x58, 0x107);  // a ROM image's optional header
  EXPECT_FALSE(PeImage::Parse(bytes, &error));
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, HeaderOffsetsOutsideTheFileAreErrors) {
  const TinyPe pe = BuildTinyPe(Pe32Plus());
  std::string error;
  for (uint32_t offset : {0xfffffff0u, 0xffffffffu, static_cast<uint32_t>(pe.bytes.size() - 8)}) {
    std::vector<uint8_t> bytes = pe.bytes;
    Put32(bytes, 0x3c, offset);
    EXPECT_FALSE(PeImage::Parse(bytes, &error)) << offset;
    EXPECT_NE(error, "");
  }
  std::vector<uint8_t> bytes = pe.bytes;
  Put16(bytes, 0x46, 0xffff);  // NumberOfSections
  EXPECT_FALSE(PeImage::Parse(bytes, &error));
  EXPECT_NE(error, "");
  bytes = pe.bytes;
  Put16(bytes, 0x54, 0xffff);  // SizeOfOptionalHeader
  EXPECT_FALSE(PeImage::Parse(bytes, &error));
  EXPECT_NE(error, "");
  bytes = pe.bytes;
  Put32(bytes, pe.sectionHeader + 20, 0xfffffe00);  // PointerToRawData
  EXPECT_FALSE(PeImage::Parse(bytes, &error));
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ExportDirectoryOutsideTheFileIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, pe.dataDirectories, kFarRva);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ExportNames(&error).empty());
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_EQ(image->ExportDllName(&error), "");
  EXPECT_NE(error, "");
}

// The directory's last bytes would lie past the end of the section.
TEST_P(TinyPeTest, ExportDirectoryCutBySectionEndIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, pe.dataDirectories, pe.sectionEnd - 20);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ExportNames(&error).empty());
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ExportNameOutsideAnySectionIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, FileOffset(pe.exportNameTable + 4), kFarRva);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ExportNames(&error).empty());
  EXPECT_NE(error, "");
}

// A name in the file's padding after the section's contents is not mapped.
TEST_P(TinyPeTest, ExportNameInTheSectionPaddingIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  ASSERT_LT(FileOffset(pe.sectionEnd) + 4, pe.bytes.size());
  std::memcpy(&pe.bytes[FileOffset(pe.sectionEnd)], "Gam", 4);
  Put32(pe.bytes, FileOffset(pe.exportNameTable + 4), pe.sectionEnd);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ExportNames(&error).empty());
  EXPECT_NE(error, "");
}

// The name runs to the end of the section without a terminator.
TEST_P(TinyPeTest, UnterminatedExportNameIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  const size_t last = FileOffset(pe.sectionEnd) - 6;
  std::fill(pe.bytes.begin() + last, pe.bytes.end(), 'x');
  Put32(pe.bytes, FileOffset(pe.exportNameTable + 4), pe.sectionEnd - 6);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ExportNames(&error).empty());
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, HugeExportNameCountIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, FileOffset(pe.exportDirectory + 24), 0xffffffff);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ExportNames(&error).empty());
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ExportDllNameOutsideTheImageIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, FileOffset(pe.exportDirectory + 12), kFarRva);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_EQ(image->ExportDllName(&error), "");
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ImportedDllNameOutsideTheImageIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, FileOffset(pe.importDescriptors + 20 + 12), kFarRva);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ImportDllNames(&error).empty());
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_TRUE(image->ImportedFunctions("KERNEL32.dll", &error).empty());
  EXPECT_NE(error, "");
}

// Descriptors that never reach the all-zero one end at the section's end.
TEST_P(TinyPeTest, UnterminatedImportDirectoryIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  const size_t terminator = FileOffset(pe.importDescriptors + 40);
  std::vector<uint8_t> descriptor(pe.bytes.begin() + FileOffset(pe.importDescriptors),
                                  pe.bytes.begin() + FileOffset(pe.importDescriptors) + 20);
  for (size_t at = terminator; at + 20 <= FileOffset(pe.sectionEnd); at += 20) {
    std::copy(descriptor.begin(), descriptor.end(), pe.bytes.begin() + at);
  }
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ImportDllNames(&error).empty());
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ImportLookupTableOutsideTheImageIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put32(pe.bytes, FileOffset(pe.importDescriptors), kFarRva);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ImportedFunctions("KERNEL32.dll", &error).empty());
  EXPECT_NE(error, "");
}

// A lookup table with no zero entry before the section ends.
TEST_P(TinyPeTest, UnterminatedImportLookupTableIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  const uint32_t lookup = Get32(pe.bytes, FileOffset(pe.importDescriptors + 20));  // msi.dll's
  const size_t thunkSize = Pe32Plus() ? 8 : 4;
  const std::vector<uint8_t> thunk(pe.bytes.begin() + FileOffset(lookup),
                                   pe.bytes.begin() + FileOffset(lookup) + thunkSize);
  for (size_t at = FileOffset(lookup); at + thunkSize <= FileOffset(pe.sectionEnd); at += thunkSize) {
    std::copy(thunk.begin(), thunk.end(), pe.bytes.begin() + at);
  }
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ImportedFunctions("msi.dll", &error).empty());
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ImportedFunctionNameOutsideTheImageIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  const uint32_t lookup = Get32(pe.bytes, FileOffset(pe.importDescriptors));
  Put32(pe.bytes, FileOffset(lookup), kFarRva);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_TRUE(image->ImportedFunctions("KERNEL32.dll", &error).empty());
  EXPECT_NE(error, "");
}

// The name directory of the message table lists itself as the directory of name 1.
TEST_P(TinyPeTest, ResourceDirectoryLoopIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  const size_t typeDirectory = ResourceTarget(pe, ResourceEntryOffset(pe, 0, host::kResourceTypeMessageTable));
  const size_t nameEntry = ResourceEntryOffset(pe, typeDirectory, 1);
  Put32(pe.bytes, FileOffset(pe.resourceRoot) + nameEntry + 4, static_cast<uint32_t>(typeDirectory) | 0x80000000u);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_FALSE(image->FindResourceData(host::kResourceTypeMessageTable, 1, host::kAnyLanguage, &error));
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_TRUE(image->ResourceLanguages(host::kResourceTypeMessageTable, 1, &error).empty());
  EXPECT_NE(error, "");
}

// A type entry leading back to the root, and a language entry leading to a
// directory instead of data.
TEST_P(TinyPeTest, ResourceEntriesPointingBackAreErrors) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  const size_t typeEntry = ResourceEntryOffset(pe, 0, host::kResourceTypeVersion);
  Put32(pe.bytes, FileOffset(pe.resourceRoot) + typeEntry + 4, 0x80000000u);
  const size_t typeDirectory = ResourceTarget(pe, ResourceEntryOffset(pe, 0, host::kResourceTypeMessageTable));
  const size_t nameDirectory = ResourceTarget(pe, ResourceEntryOffset(pe, typeDirectory, 1));
  const size_t langEntry = ResourceEntryOffset(pe, nameDirectory, 0x407);
  Put32(pe.bytes, FileOffset(pe.resourceRoot) + langEntry + 4, 0x80000000u);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_FALSE(image->FindResourceData(host::kResourceTypeVersion, 1, host::kAnyLanguage, &error));
  EXPECT_NE(error, "");
  error.clear();
  EXPECT_FALSE(image->FindResourceData(host::kResourceTypeMessageTable, 1, 0x407, &error));
  EXPECT_NE(error, "");
  // The other language is intact.
  EXPECT_EQ(image->FindResourceData(host::kResourceTypeMessageTable, 1, 0x409, &error), Text("english"));
}

TEST_P(TinyPeTest, ResourceEntryCountPastTheSectionIsAnError) {
  TinyPe pe = BuildTinyPe(Pe32Plus());
  Put16(pe.bytes, FileOffset(pe.resourceRoot) + 14, 0xffff);
  std::optional<PeImage> image = ParseOrFail(pe.bytes);
  ASSERT_TRUE(image);
  std::string error;
  EXPECT_FALSE(image->FindResourceData(host::kResourceTypeVersion, 1, host::kAnyLanguage, &error));
  EXPECT_NE(error, "");
}

TEST_P(TinyPeTest, ResourceDataOutsideTheImageIsAnError) {
  const TinyPe pe = BuildTinyPe(Pe32Plus());
  const size_t root = FileOffset(pe.resourceRoot);
  const size_t typeDirectory = ResourceTarget(pe, ResourceEntryOffset(pe, 0, host::kResourceTypeVersion));
  const size_t nameDirectory = ResourceTarget(pe, ResourceEntryOffset(pe, typeDirectory, 1));
  const size_t langEntry = ResourceEntryOffset(pe, nameDirectory, 0x409);
  const size_t dataEntry = root + ResourceTarget(pe, langEntry);
  const std::pair<size_t, uint32_t> damages[] = {
      {root + langEntry + 4, 0x7ffffff0},  // the data entry
      {dataEntry, kFarRva},                // the data's RVA
      {dataEntry + 4, 0xfffffff0},         // the data's size
  };
  for (const auto& damage : damages) {
    std::vector<uint8_t> bytes = pe.bytes;
    Put32(bytes, damage.first, damage.second);
    std::optional<PeImage> image = ParseOrFail(bytes);
    ASSERT_TRUE(image);
    std::string error;
    EXPECT_FALSE(image->FindResourceData(host::kResourceTypeVersion, 1, host::kAnyLanguage, &error)) << damage.first;
    EXPECT_NE(error, "") << damage.first;
  }
}

// Every 32-bit field of the image set to values typical of damage: each read
// must end in a result or an error.
TEST_P(TinyPeTest, SurvivesDamageAnywhere) {
  const std::vector<uint8_t> whole = BuildTinyPe(Pe32Plus()).bytes;
  for (size_t offset = 0; offset + 4 <= whole.size(); offset += 2) {
    for (uint32_t value : {0u, 1u, 0x7fffffffu, 0x80000000u, 0xffffffffu, kSectionRva, 0x80000010u}) {
      std::vector<uint8_t> bytes = whole;
      Put32(bytes, offset, value);
      std::optional<PeImage> image = PeImage::Parse(std::move(bytes), nullptr);
      if (image) ReadEverything(*image);
    }
  }
}

TEST(VersionResourceTest, RejectsMalformedBlocks) {
  const std::vector<uint8_t> block = VersionBlock(1, 2, 3, 4);
  ASSERT_TRUE(host::ParseVersionResource(block));
  for (size_t size = 0; size < block.size(); ++size) {
    EXPECT_FALSE(host::ParseVersionResource(std::vector<uint8_t>(block.begin(), block.begin() + size))) << size;
  }
  std::vector<uint8_t> bad = block;
  Put16(bad, 0, static_cast<uint16_t>(block.size() + 1));  // longer than the data
  EXPECT_FALSE(host::ParseVersionResource(bad));
  bad = block;
  Put16(bad, 2, 0);  // no fixed part
  EXPECT_FALSE(host::ParseVersionResource(bad));
  bad = block;
  bad[6] = 'W';  // the key
  EXPECT_FALSE(host::ParseVersionResource(bad));
  bad = block;
  Put32(bad, 40, 0xfeef04bc);  // the fixed part's signature
  EXPECT_FALSE(host::ParseVersionResource(bad));
}

// A block with children after the fixed part, as resource compilers write it.
TEST(VersionResourceTest, IgnoresWhatFollowsTheFixedPart) {
  std::vector<uint8_t> block = VersionBlock(0x10002, 0x30004, 0x50006, 0x70008);
  block.resize(block.size() + 64, 0x5a);
  Put16(block, 0, static_cast<uint16_t>(block.size()));
  std::optional<host::FixedFileInfo> info = host::ParseVersionResource(block);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->fileVersionMS, 0x10002u);
  EXPECT_EQ(info->productVersionLS, 0x70008u);
}

// The shipped DLL, damaged: it has no resources, but its real export and
// import directories are what the checks of the builds read.
class RealDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = VRINCA_DIST_DIR "/win32/vrinca.dll";
    std::string error;
    ASSERT_TRUE(PeImage::Load(path, &error)) << path << ": " << error;
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<uint8_t> bytes_;
};

TEST_F(RealDllTest, ExportDirectoryOutsideTheFileIsAnError) {
  const size_t peHeader = Get32(bytes_, 0x3c);
  const size_t exportDirectoryField = peHeader + 24 + 96;  // a PE32 image's first data directory
  ASSERT_NE(Get32(bytes_, exportDirectoryField), 0u);
  for (uint32_t rva : {kFarRva, 0xffffffffu, static_cast<uint32_t>(bytes_.size())}) {
    std::vector<uint8_t> bytes = bytes_;
    Put32(bytes, exportDirectoryField, rva);
    std::optional<PeImage> image = ParseOrFail(bytes);
    ASSERT_TRUE(image);
    std::string error;
    EXPECT_TRUE(image->ExportNames(&error).empty()) << rva;
    EXPECT_NE(error, "") << rva;
  }
}

// Every copy cut short of the end of the last section's data.
TEST_F(RealDllTest, TruncatedCopiesAreErrors) {
  const size_t peHeader = Get32(bytes_, 0x3c);
  const size_t sectionCount = bytes_.at(peHeader + 6) | (bytes_.at(peHeader + 7) << 8);
  const size_t sectionTable = peHeader + 24 + (bytes_.at(peHeader + 20) | (bytes_.at(peHeader + 21) << 8));
  size_t dataEnd = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    const size_t header = sectionTable + 40 * i;
    dataEnd = std::max<size_t>(dataEnd, Get32(bytes_, header + 20) + Get32(bytes_, header + 16));
  }
  ASSERT_GT(dataEnd, sectionTable);
  for (size_t size = 0; size < dataEnd; size += size < 0x800 ? 1 : 0x1ff) {
    std::string error;
    EXPECT_FALSE(PeImage::Parse(std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + size), &error)) << size;
    EXPECT_NE(error, "") << size;
  }
}

}  // namespace
