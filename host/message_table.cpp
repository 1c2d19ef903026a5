#include "host/message_table.h"

#include <set>

#include "host/code_page.h"

namespace host {

namespace {

constexpr size_t kDataHeaderSize = 4;   // NumberOfBlocks
constexpr size_t kBlockSize = 12;       // LowId, HighId, OffsetToEntries
constexpr size_t kEntryHeaderSize = 4;  // Length, Flags

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

// The text bytes of an entry up to its terminating NUL character (two zero
// bytes on an even offset for Unicode, one zero byte otherwise).
bool EntryText(const uint8_t* text, size_t size, uint16_t flags, std::vector<uint8_t>* out) {
  if (flags == kMessageResourceUnicode) {
    for (size_t i = 0; i + 1 < size; i += 2) {
      if (text[i] == 0 && text[i + 1] == 0) {
        out->assign(text, text + i);
        return true;
      }
    }
    return false;
  }
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == 0) {
      out->assign(text, text + i);
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::vector<MessageTableEntry>> ParseMessageTable(const uint8_t* data, size_t size, std::string* error) {
  if (data == nullptr || size < kDataHeaderSize) {
    Fail(error, "message table shorter than its header");
    return std::nullopt;
  }
  const uint64_t blockCount = Read32(data);
  if (blockCount > (size - kDataHeaderSize) / kBlockSize) {
    Fail(error, "message table blocks run past the data");
    return std::nullopt;
  }
  std::vector<MessageTableEntry> entries;
  std::set<uint32_t> seen;
  for (uint64_t block = 0; block < blockCount; ++block) {
    const uint8_t* header = data + kDataHeaderSize + block * kBlockSize;
    const uint32_t low = Read32(header);
    const uint32_t high = Read32(header + 4);
    size_t offset = Read32(header + 8);
    if (low > high) {
      Fail(error, "message table block " + std::to_string(block) + " ends before it starts");
      return std::nullopt;
    }
    // Each entry takes at least its header, which bounds the count before the walk.
    const uint64_t count = static_cast<uint64_t>(high) - low + 1;
    if (offset > size || count > (size - offset) / kEntryHeaderSize) {
      Fail(error, "message table block " + std::to_string(block) + " runs past the data");
      return std::nullopt;
    }
    for (uint64_t k = 0; k < count; ++k) {
      const uint32_t id = static_cast<uint32_t>(low + k);
      if (size - offset < kEntryHeaderSize) {
        Fail(error, "message table entry header past the data");
        return std::nullopt;
      }
      MessageTableEntry entry;
      entry.id = id;
      entry.length = Read16(data + offset);
      entry.flags = Read16(data + offset + 2);
      if (entry.length < kEntryHeaderSize || entry.length > size - offset) {
        Fail(error, "message table entry of bad length");
        return std::nullopt;
      }
      if (entry.flags != kMessageResourceAnsi && entry.flags != kMessageResourceUnicode &&
          entry.flags != kMessageResourceUtf8) {
        Fail(error, "message table entry with unknown flags");
        return std::nullopt;
      }
      if (!EntryText(data + offset + kEntryHeaderSize, entry.length - kEntryHeaderSize, entry.flags, &entry.text)) {
        Fail(error, "message table entry without a terminating NUL");
        return std::nullopt;
      }
      if (!seen.insert(id).second) {
        Fail(error, "message table blocks overlap");
        return std::nullopt;
      }
      offset += entry.length;
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

std::u16string MessageEntryText(const MessageTableEntry& entry) {
  if (entry.flags == kMessageResourceUnicode) {
    std::u16string text;
    for (size_t i = 0; i + 1 < entry.text.size(); i += 2) text.push_back(Read16(entry.text.data() + i));
    return text;
  }
  const std::string bytes(entry.text.begin(), entry.text.end());
  if (entry.flags == kMessageResourceUtf8) return Utf8ToUtf16(bytes);
  std::u16string text;
  if (!AnsiToUtf16(bytes, &text)) text.clear();
  return text;
}

HMODULE LibraryModule() {
  static HINSTANCE__ module{};
  return &module;
}

std::vector<uint16_t> LibraryMessageLanguages() {
  std::vector<uint16_t> languages;
  for (size_t i = 0; i < kLibraryMessageTableCount; ++i) languages.push_back(kLibraryMessageTables[i].language);
  return languages;
}

namespace {

const EmbeddedMessageTable* TableFor(uint32_t language) {
  for (size_t i = 0; i < kLibraryMessageTableCount; ++i) {
    if (kLibraryMessageTables[i].language == language) return &kLibraryMessageTables[i];
  }
  return nullptr;
}

// Language 0 follows FormatMessage's documented order; the thread's, user's
// and system's defaults are all the machine's language.
const EmbeddedMessageTable* NeutralLookup() {
  for (uint32_t language : {0u, static_cast<uint32_t>(kMachineLanguage), 0x0409u}) {
    if (const EmbeddedMessageTable* table = TableFor(language)) return table;
  }
  return kLibraryMessageTableCount > 0 ? &kLibraryMessageTables[0] : nullptr;
}

}  // namespace

uint32_t FindModuleMessage(HMODULE module, uint32_t id, uint32_t language, std::u16string* text) {
  if (module == nullptr || module != LibraryModule()) return kErrorResourceTypeNotFound;
  const uint16_t langId = static_cast<uint16_t>(language & 0xFFFF);
  const EmbeddedMessageTable* table = langId == 0 ? NeutralLookup() : TableFor(langId);
  if (table == nullptr) return ERROR_RESOURCE_LANG_NOT_FOUND;
  std::optional<std::vector<MessageTableEntry>> entries = ParseMessageTable(table->data, table->size);
  if (!entries) return kErrorResourceDataNotFound;
  for (const MessageTableEntry& entry : *entries) {
    if (entry.id == id) {
      *text = MessageEntryText(entry);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_MR_MID_NOT_FOUND;
}

}  // namespace host
