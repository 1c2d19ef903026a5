// Small PE32 images for tests: a valid i386 DLL whose one section holds a
// resource directory, typically with an RT_VERSION resource, so that the
// simulated version calls have a real image to read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrintest {

struct FileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;
};

struct PeResource {
  uint16_t type;
  uint16_t name;
  uint16_t language;
  std::vector<uint8_t> data;
};

constexpr uint16_t kRtRcData = 10;
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kLangEnglishUs = 0x0409;

// The 52 bytes of a VS_FIXEDFILEINFO.
std::vector<uint8_t> FixedFileInfo(FileVersion file, FileVersion product);

// A VS_VERSIONINFO block: the fixed block, then VarFileInfo\Translation.
// fixedLength other than 52 declares a fixed block of that length (a
// malformed resource).
std::vector<uint8_t> VersionInfo(FileVersion file, FileVersion product, uint16_t fixedLength = 52);

// A PE32 DLL image with the resources (none: no resource directory).
std::vector<uint8_t> PeImageWith(const std::vector<PeResource>& resources);

// A DLL with a version resource of the file version (product version alike).
std::string VersionedDll(FileVersion file);
// A DLL whose only resource is raw data: no version resource.
std::string UnversionedDll();

inline std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace vrintest
