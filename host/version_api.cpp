// version.dll's calls over the simulated file system: the RT_VERSION resource
// of a PE image (host::PeImage) and the walk through its VS_VERSIONINFO blocks.
// VerQueryValue answers the root block and binary values; string values (the
// ANSI copies Windows makes of them) are not offered: nothing reads them.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/pe_image.h"
#include "host/win32_api.h"
#include "host/win32_files.h"

namespace {

constexpr uint16_t kVersionInfoName = 1;  // VS_VERSION_INFO
constexpr size_t kBlockHeader = 6;        // wLength, wValueLength, wType
constexpr uint16_t kTextValue = 1;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

// The version resource of a file, or the error Windows reports: the file's
// own error, ERROR_RESOURCE_DATA_NOT_FOUND for what is no image, and
// ERROR_RESOURCE_TYPE_NOT_FOUND for an image without the resource.
uint32_t LoadVersionResource(const char* path, std::vector<uint8_t>* resource) {
  std::string bytes;
  // Loaded as a data file: read access, sharing reading and deletion.
  uint32_t error =
      host::FileSystem::Instance().ReadWhole(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, &bytes);
  if (error != ERROR_SUCCESS) return error;
  std::string reason;
  std::optional<host::PeImage> image = host::PeImage::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()), &reason);
  if (!image) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::optional<std::vector<uint8_t>> data =
      image->FindResourceData(host::kResourceTypeVersion, kVersionInfoName, host::kAnyLanguage, &reason);
  if (!data) return reason.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND;
  *resource = std::move(*data);
  return ERROR_SUCCESS;
}

// One block of a VS_VERSIONINFO tree, checked against the end of its parent.
struct Block {
  size_t offset = 0;
  size_t length = 0;
  uint16_t valueLength = 0;
  uint16_t type = 0;
  std::string key;  // in the ANSI code page
  size_t valueOffset = 0;
  size_t childrenOffset = 0;
};

bool ReadBlock(const uint8_t* base, size_t offset, size_t limit, Block* block) {
  if (offset + kBlockHeader > limit) return false;
  block->offset = offset;
  block->length = Get16(base + offset);
  block->valueLength = Get16(base + offset + 2);
  block->type = Get16(base + offset + 4);
  const size_t end = offset + block->length;
  if (block->length < kBlockHeader || end > limit) return false;
  std::u16string key;
  size_t p = offset + kBlockHeader;
  for (;; p += 2) {
    if (p + 2 > end) return false;
    char16_t c = Get16(base + p);
    if (c == 0) break;
    key.push_back(c);
  }
  block->key = host::Utf16ToAnsi(key);
  block->valueOffset = Align4(p + 2);
  const size_t valueBytes = block->type == kTextValue ? size_t{block->valueLength} * 2 : block->valueLength;
  if (valueBytes > 0 && block->valueOffset + valueBytes > end) return false;
  block->childrenOffset = Align4(block->valueOffset + valueBytes);
  return true;
}

// The child of parent named name (compared without case), if any.
bool FindChild(const uint8_t* base, const Block& parent, const std::string& name, Block* child) {
  const size_t end = parent.offset + parent.length;
  const std::string folded = host::FoldCase(name);
  for (size_t offset = parent.childrenOffset; offset < end;) {
    Block candidate;
    if (!ReadBlock(base, offset, end, &candidate)) return false;
    if (host::FoldCase(candidate.key) == folded) {
      *child = candidate;
      return true;
    }
    // Every block is at least its header long, so the walk moves on.
    offset = Align4(candidate.offset + candidate.length);
  }
  return false;
}

}  // namespace

extern "C" {

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
  if (lpdwHandle != nullptr) *lpdwHandle = 0;
  if (auto error = host::Faults::Instance().Check("GetFileVersionInfoSize", lptstrFilename)) {
    SetLastError(*error);
    return 0;
  }
  std::vector<uint8_t> resource;
  uint32_t error = LoadVersionResource(lptstrFilename, &resource);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return 0;
  }
  // Like Windows, room beyond the block for the converted copies it makes.
  return static_cast<DWORD>(resource.size() * 2 + 4);
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
  (void)dwHandle;
  if (auto error = host::Faults::Instance().Check("GetFileVersionInfo", lptstrFilename)) {
    SetLastError(*error);
    return FALSE;
  }
  if (lpData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<uint8_t> resource;
  uint32_t error = LoadVersionResource(lptstrFilename, &resource);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  // A short buffer gets the start of the block, which then claims no more
  // than the buffer holds.
  uint8_t* out = static_cast<uint8_t*>(lpData);
  const size_t copied = std::min<size_t>(dwLen, resource.size());
  std::memcpy(out, resource.data(), copied);
  std::memset(out + copied, 0, dwLen - copied);
  if (copied >= 2 && Get16(out) > copied) {
    out[0] = static_cast<uint8_t>(copied & 0xFF);
    out[1] = static_cast<uint8_t>(copied >> 8);
  }
  return TRUE;
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen) {
  if (auto error = host::Faults::Instance().Check("VerQueryValue", lpSubBlock)) {
    SetLastError(*error);
    return FALSE;
  }
  if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const uint8_t* base = static_cast<const uint8_t*>(pBlock);
  Block block;
  if (!ReadBlock(base, 0, Get16(base), &block)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
  }
  std::string name;
  for (const char* p = lpSubBlock;; p += host::CharLength(p)) {
    const size_t length = host::CharLength(p);
    if (length == 0 || (length == 1 && *p == '\\')) {
      if (!name.empty() && !FindChild(base, block, name, &block)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
      }
      name.clear();
      if (length == 0) break;
    } else {
      name.append(p, length);
    }
  }
  if (block.valueLength == 0 || block.type == kTextValue) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *lplpBuffer = const_cast<uint8_t*>(base + block.valueOffset);
  if (puLen != nullptr) *puLen = block.valueLength;
  return TRUE;
}
}
