// Message tables of the simulated machine: a reader of the RT_MESSAGETABLE
// layout (MESSAGE_RESOURCE_DATA, its blocks and entries), the library's own
// table under the module handle the installer passes to DllMain, and the
// lookup that FormatMessage makes in a module. The library's table is
// generated from resources/messages.txt into the same bytes that the Windows
// builds carry as resources; the static tests read those with the same reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/win32_types.h"

namespace host {

// Entry flags: how the text is stored.
constexpr uint16_t kMessageResourceAnsi = 0;
constexpr uint16_t kMessageResourceUnicode = 1;
constexpr uint16_t kMessageResourceUtf8 = 2;

// Errors of the resource lookup that win32_types.h does not name.
constexpr uint32_t kErrorResourceDataNotFound = 1812;
constexpr uint32_t kErrorResourceTypeNotFound = 1813;

struct MessageTableEntry {
  uint32_t id;
  uint16_t length;  // of the whole entry, its 4-byte header and padding included
  uint16_t flags;
  std::vector<uint8_t> text;  // the stored bytes before the terminating NUL character
};

// Reads a MESSAGE_RESOURCE_DATA blob into its entries in block order. Every
// count, offset and length is checked against the data; overlapping blocks,
// unknown flags and texts without a terminating NUL character make it
// malformed. Nothing on failure, with the reason in error (when not null).
std::optional<std::vector<MessageTableEntry>> ParseMessageTable(const uint8_t* data, size_t size,
                                                                std::string* error = nullptr);

// An entry's text as UTF-16: Unicode entries as stored, UTF-8 ones converted,
// ANSI ones through the machine's code page.
std::u16string MessageEntryText(const MessageTableEntry& entry);

// One language's RT_MESSAGETABLE resource of the library.
struct EmbeddedMessageTable {
  uint16_t language;
  const uint8_t* data;
  size_t size;
};
// Generated from resources/messages.txt, in ascending language order as a
// resource directory lists them.
extern const EmbeddedMessageTable kLibraryMessageTables[];
extern const size_t kLibraryMessageTableCount;

// The library's module handle on the simulated machine: a test passes it to
// DllMain as the installer's host would pass the loaded DLL's handle.
HMODULE LibraryModule();

// The languages of the library's table, ascending.
std::vector<uint16_t> LibraryMessageLanguages();

// The machine's user-interface language: the thread's, the user's and the
// system's default language alike (US English).
constexpr uint16_t kMachineLanguage = 0x0409;

// Looks message id up in module's message table in the language FormatMessage
// was given, and stores its text (with the CR LF the table keeps):
// - only the library's module has a table; any other handle, null (the
//   process's own image) included, fails with ERROR_RESOURCE_TYPE_NOT_FOUND;
// - the language is a LANGID: only its low 16 bits count, as under Wine;
// - a language other than 0 must match a table exactly, else
//   ERROR_RESOURCE_LANG_NOT_FOUND;
// - language 0 takes the first table present among language neutral, the
//   machine's language and US English, and else the first table listed;
// - an identifier that the chosen table lacks fails with ERROR_MR_MID_NOT_FOUND.
// Returns ERROR_SUCCESS or the error.
uint32_t FindModuleMessage(HMODULE module, uint32_t id, uint32_t language, std::u16string* text);

}  // namespace host
