// A reader for Windows PE images (PE32 and PE32+): headers, export and import
// names, and integer-ID resources. The simulated machine takes file version
// information and message tables from it; the static tests check the shipped
// DLLs with it. Input is untrusted: every offset and size is checked against
// the file, and a malformed image yields an error, never an out-of-bounds read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

constexpr uint16_t kImageFileMachineI386 = 0x014c;
constexpr uint16_t kImageFileMachineAmd64 = 0x8664;
constexpr uint16_t kImageFileDll = 0x2000;

constexpr uint16_t kResourceTypeMessageTable = 11;
constexpr uint16_t kResourceTypeVersion = 16;
// Passed as the language of FindResourceData: the first language the directory lists.
constexpr uint16_t kAnyLanguage = 0xFFFF;

class PeImage {
 public:
  // Reads the whole file and parses its headers. On failure returns nothing
  // and, when error is not null, stores the reason there.
  static std::optional<PeImage> Load(const std::string& path, std::string* error);
  static std::optional<PeImage> Parse(std::vector<uint8_t> bytes, std::string* error);

  uint16_t Machine() const { return machine_; }
  bool IsPe32Plus() const { return pe32Plus_; }
  uint16_t Characteristics() const { return characteristics_; }

  // The directories are read on demand, so a damaged directory does not hide
  // the rest of the image. Each call returns an empty result and stores the
  // reason in error (when not null) if its directory is malformed; an image
  // without the directory gives an empty result and no error.

  // The exported names in the order of the name pointer table (sorted by the linker).
  std::vector<std::string> ExportNames(std::string* error = nullptr) const;
  // The DLL name recorded in the export directory.
  std::string ExportDllName(std::string* error = nullptr) const;
  // The DLLs of the import directory, in its order.
  std::vector<std::string> ImportDllNames(std::string* error = nullptr) const;
  // The functions imported from dll (matched case-insensitively, as Windows
  // does); imports by ordinal appear as "#N". An error if dll is not imported.
  std::vector<std::string> ImportedFunctions(const std::string& dll, std::string* error = nullptr) const;

  // The data of the resource type/name/lang, all integer IDs; with kAnyLanguage
  // the first language listed. Nothing if absent or malformed (error tells which).
  // Not named FindResource: the simulated Win32 headers may define that as a macro.
  std::optional<std::vector<uint8_t>> FindResourceData(uint16_t type, uint16_t name, uint16_t lang = kAnyLanguage,
                                                       std::string* error = nullptr) const;
  // The languages of resource type/name in directory order.
  std::vector<uint16_t> ResourceLanguages(uint16_t type, uint16_t name, std::string* error = nullptr) const;

 private:
  struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
  };
  struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
  };
  enum DirectoryIndex { kExportDirectory = 0, kImportDirectory = 1, kResourceDirectory = 2 };
  // A resource directory entry: the ID (or a name, which ID lookups skip) and
  // where it leads, relative to the start of the resource directory.
  struct ResourceEntry {
    bool named;
    uint16_t id;
    bool subdirectory;
    uint32_t offset;
  };

  PeImage() = default;

  DataDirectory Directory(DirectoryIndex index) const;
  // The file offset of rva and how many bytes of the file from there belong to
  // its section; nothing if rva is in no section or has no file data.
  std::optional<size_t> RvaToOffset(uint32_t rva, size_t* available) const;
  // Checked reads of the image by RVA.
  bool ReadRva32(uint32_t rva, uint32_t* value) const;
  bool ReadRva64(uint32_t rva, uint64_t* value) const;
  bool ReadRvaBytes(uint32_t rva, size_t count, std::vector<uint8_t>* out) const;
  // A NUL-terminated name at rva; the terminator must lie within the section.
  bool ReadRvaString(uint32_t rva, std::string* out) const;
  // The import descriptors' (name RVA, lookup table RVA) pairs.
  bool ImportDescriptors(std::vector<std::pair<uint32_t, uint32_t>>* out, std::string* error) const;
  bool ResourceEntries(uint32_t directoryOffset, std::vector<ResourceEntry>* out, std::string* error) const;
  // Follows type and name to the language directory; its offset or nothing.
  std::optional<uint32_t> ResourceLanguageDirectory(uint16_t type, uint16_t name, std::string* error) const;

  std::vector<uint8_t> bytes_;
  std::vector<Section> sections_;
  std::vector<DataDirectory> directories_;
  uint16_t machine_ = 0;
  uint16_t characteristics_ = 0;
  bool pe32Plus_ = false;
};

// The fixed part of a VS_VERSIONINFO resource (VS_FIXEDFILEINFO).
struct FixedFileInfo {
  uint32_t signature;  // 0xFEEF04BD
  uint32_t structVersion;
  uint32_t fileVersionMS;
  uint32_t fileVersionLS;
  uint32_t productVersionMS;
  uint32_t productVersionLS;
  uint32_t fileFlagsMask;
  uint32_t fileFlags;
  uint32_t fileOS;
  uint32_t fileType;
  uint32_t fileSubtype;
  uint32_t fileDateMS;
  uint32_t fileDateLS;
};

constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// Parses the data of an RT_VERSION resource (name 1); nothing unless it is a
// well-formed VS_VERSIONINFO block carrying a VS_FIXEDFILEINFO.
std::optional<FixedFileInfo> ParseVersionResource(const std::vector<uint8_t>& data);

}  // namespace host
