// kernel32's profile-file calls over the simulated file system, with the
// behaviour Windows documents and its conformance tests show:
// - a file named without a folder is in the Windows folder; a missing or
//   unreadable file reads as empty;
// - sections and keys compare without case and without surrounding blanks;
//   lines end in CR LF, LF or CR; ';' starts a comment; a line without '='
//   is no key;
// - a value loses its surrounding blanks, then one pair of matching quotes
//   (" or '); the default loses its trailing blanks;
// - a value cut to the buffer leaves size - 1 characters; a list of names
//   (null section or key) is each name and its NUL, then one more NUL, and
//   when cut ends in two NULs, returning size - 2 (fewer when a double-byte
//   character would be split);
// - GetPrivateProfileInt reads the number as RtlUnicodeStringToInteger does
//   with base 0: blanks, a sign, "0x", "0o" or "0b", digits up to the first
//   other character, modulo 2^32; an empty or missing value is the default.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "host/code_page.h"
#include "host/faults.h"
#include "host/filesystem.h"
#include "host/win32_api.h"
#include "host/win32_files.h"

namespace {

// Sharing as the profile calls open the file: readers let others read and
// write; writers read and write and share the same.
constexpr uint32_t kProfileShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr size_t kIntegerBuffer = 30;

enum class LineKind { kOther, kSection, kEntry };

struct IniLine {
  std::string text;
  LineKind kind = LineKind::kOther;
  std::string name;   // section or key, trimmed
  std::string value;  // entry value, trimmed
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The last occurrence of a single-byte character, skipping trail bytes.
size_t FindLastChar(const std::string& text, char c) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < text.size();) {
    size_t length = host::CharLength(text.c_str() + i);
    if (length == 1 && text[i] == c) found = i;
    i += length == 0 ? 1 : length;
  }
  return found;
}

size_t FindFirstChar(const std::string& text, char c) {
  for (size_t i = 0; i < text.size();) {
    size_t length = host::CharLength(text.c_str() + i);
    if (length == 1 && text[i] == c) return i;
    i += length == 0 ? 1 : length;
  }
  return std::string::npos;
}

IniLine ParseLine(const std::string& text) {
  IniLine line;
  line.text = text;
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || trimmed[0] == ';') return line;
  if (trimmed[0] == '[') {
    size_t close = FindLastChar(trimmed, ']');
    if (close != std::string::npos) {
      line.kind = LineKind::kSection;
      line.name = Trim(trimmed.substr(1, close - 1));
      return line;
    }
  }
  size_t equals = FindFirstChar(trimmed, '=');
  if (equals == std::string::npos) return line;
  line.kind = LineKind::kEntry;
  line.name = Trim(trimmed.substr(0, equals));
  line.value = Trim(trimmed.substr(equals + 1));
  return line;
}

std::vector<IniLine> ParseProfile(const std::string& content) {
  std::vector<IniLine> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(ParseLine(content.substr(start, end - start)));
    if (end < content.size() && content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

bool SameName(const std::string& a, const std::string& b) { return host::FoldCase(Trim(a)) == host::FoldCase(Trim(b)); }

// The line range [first, end) of the first section named section; false if none.
bool FindSection(const std::vector<IniLine>& lines, const char* section, size_t* first, size_t* end) {
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != LineKind::kSection || !SameName(lines[i].name, section)) continue;
    size_t j = i + 1;
    while (j < lines.size() && lines[j].kind != LineKind::kSection) ++j;
    *first = i;
    *end = j;
    return true;
  }
  return false;
}

size_t FindKey(const std::vector<IniLine>& lines, size_t first, size_t end, const char* key) {
  for (size_t i = first + 1; i < end; ++i) {
    if (lines[i].kind == LineKind::kEntry && SameName(lines[i].name, key)) return i;
  }
  return std::string::npos;
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// How many bytes of text fit in limit without splitting a character.
size_t FittingBytes(const std::string& text, size_t limit) {
  size_t n = 0;
  while (n < text.size()) {
    size_t length = host::CharLength(text.c_str() + n);
    if (length == 0) length = 1;  // an embedded NUL of a list
    if (n + length > limit) break;
    n += length;
  }
  return n;
}

DWORD CopyValue(const std::string& value, LPSTR out, DWORD size) {
  size_t n = FittingBytes(value, size - 1);
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

DWORD CopyList(const std::vector<std::string>& names, LPSTR out, DWORD size) {
  if (size < 2) {
    out[0] = '\0';
    return 0;
  }
  std::string content;
  for (const std::string& name : names) content.append(name).push_back('\0');
  if (content.size() <= size - 2) {
    std::memcpy(out, content.data(), content.size());
    out[content.size()] = '\0';
    return static_cast<DWORD>(content.size());
  }
  size_t n = FittingBytes(content, size - 2);
  std::memcpy(out, content.data(), n);
  out[n] = '\0';
  out[n + 1] = '\0';
  return static_cast<DWORD>(n);
}

// The path of a profile file: a bare name lies in the Windows folder.
std::string ProfilePath(const char* file) {
  const std::string name = file != nullptr ? file : "win.ini";
  bool bare = !(name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') &&
              FindFirstChar(name, '\\') == std::string::npos && FindFirstChar(name, '/') == std::string::npos;
  return bare ? std::string(host::kWindowsDirectory) + "\\" + name : name;
}

// The file's content, empty when it cannot be read; the read's error.
uint32_t ReadProfile(const std::string& path, std::vector<IniLine>* lines) {
  std::string content;
  uint32_t error = host::FileSystem::Instance().ReadWhole(path.c_str(), GENERIC_READ, kProfileShare, &content);
  *lines = ParseProfile(error == ERROR_SUCCESS ? content : std::string());
  return error;
}

DWORD ProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString, DWORD nSize,
                    LPCSTR lpFileName, uint32_t readError) {
  if (lpReturnedString == nullptr || nSize == 0) return 0;
  std::vector<IniLine> lines;
  uint32_t error = readError != ERROR_SUCCESS ? readError : ReadProfile(ProfilePath(lpFileName), &lines);
  if (lpAppName == nullptr) {
    std::vector<std::string> names;
    for (const IniLine& line : lines) {
      if (line.kind == LineKind::kSection && !line.name.empty()) names.push_back(line.name);
    }
    return CopyList(names, lpReturnedString, nSize);
  }
  size_t first = 0;
  size_t end = 0;
  const bool section = FindSection(lines, lpAppName, &first, &end);
  if (lpKeyName == nullptr) {
    std::vector<std::string> names;
    for (size_t i = first + 1; section && i < end; ++i) {
      if (lines[i].kind == LineKind::kEntry) names.push_back(lines[i].name);
    }
    return CopyList(names, lpReturnedString, nSize);
  }
  size_t key = section ? FindKey(lines, first, end, lpKeyName) : std::string::npos;
  if (key != std::string::npos) {
    const std::string entry =
        std::string(lpFileName != nullptr ? lpFileName : "") + " [" + lpAppName + "] " + lpKeyName;
    return CopyValue(host::Faults::Instance().Text("GetPrivateProfileString", entry, StripQuotes(lines[key].value)),
                     lpReturnedString, nSize);
  }
  std::string fallback = lpDefault != nullptr ? lpDefault : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  SetLastError(error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND);
  return CopyValue(fallback, lpReturnedString, nSize);
}

UINT ParseInteger(const char* text) {
  const char* p = text;
  while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  unsigned base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
    base = p[1] == 'x' ? 16 : (p[1] == 'o' ? 8 : 2);
    p += 2;
  }
  uint32_t value = 0;
  for (;; ++p) {
    unsigned digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<unsigned>(*p - '0');
    } else if (*p >= 'a' && *p <= 'f') {
      digit = static_cast<unsigned>(*p - 'a' + 10);
    } else if (*p >= 'A' && *p <= 'F') {
      digit = static_cast<unsigned>(*p - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

std::string JoinLines(const std::vector<IniLine>& lines) {
  std::string text;
  for (const IniLine& line : lines) text.append(line.text).append("\r\n");
  return text;
}

IniLine EntryLine(const std::string& key, const char* value) { return ParseLine(key + "=" + value); }

}  // namespace

extern "C" {

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName) {
  // An injected failure makes the file unreadable.
  uint32_t readError = host::Faults::Instance().Check("GetPrivateProfileString", lpFileName).value_or(0);
  return ProfileString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName, readError);
}

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  uint32_t readError = host::Faults::Instance().Check("GetPrivateProfileInt", lpFileName).value_or(0);
  char buffer[kIntegerBuffer];
  if (ProfileString(lpAppName, lpKeyName, "", buffer, sizeof(buffer), lpFileName, readError) == 0) {
    return static_cast<UINT>(nDefault);
  }
  return ParseInteger(buffer);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  if (auto error = host::Faults::Instance().Check("WritePrivateProfileString", lpFileName)) {
    SetLastError(*error);
    return FALSE;
  }
  if (lpAppName == nullptr) {
    // All nulls only flushes the cache Windows keeps; there is none here.
    if (lpKeyName == nullptr && lpString == nullptr) return TRUE;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const std::string path = ProfilePath(lpFileName);
  std::vector<IniLine> lines;
  uint32_t error = ReadProfile(path, &lines);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
    SetLastError(error);
    return FALSE;
  }
  size_t first = 0;
  size_t end = 0;
  const bool section = FindSection(lines, lpAppName, &first, &end);
  if (lpKeyName == nullptr) {
    if (section)
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.begin() + static_cast<std::ptrdiff_t>(end));
  } else {
    size_t key = section ? FindKey(lines, first, end, lpKeyName) : std::string::npos;
    if (lpString == nullptr) {
      if (key != std::string::npos) lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(key));
    } else if (key != std::string::npos) {
      lines[key] = EntryLine(lines[key].name, lpString);
    } else if (section) {
      // After the section's last line that is not blank.
      size_t at = end;
      while (at > first + 1 && Trim(lines[at - 1].text).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), EntryLine(lpKeyName, lpString));
    } else {
      lines.push_back(ParseLine(std::string("[") + lpAppName + "]"));
      lines.push_back(EntryLine(lpKeyName, lpString));
    }
  }
  error = host::FileSystem::Instance().WriteWhole(path.c_str(), GENERIC_READ | GENERIC_WRITE, kProfileShare,
                                                  JoinLines(lines));
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
}
