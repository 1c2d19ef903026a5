// regedit's text format (version 5.00) for seeding and dumping a registry.
#include <cstdio>
#include <sstream>

#include "host/code_page.h"
#include "host/registry.h"

namespace host {

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00";
// regedit's older format: text in the ANSI code page, hex(2) and hex(7)
// strings as single bytes.
const char kHeader4[] = "REGEDIT4";

std::string DecodeText(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    std::u16string wide;
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      wide.push_back(
          static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8)));
    }
    return Utf16ToUtf8(wide);
  }
  if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  return raw;
}

// Parses a quoted string with \\ and \" escapes starting at text[pos] == '"';
// pos ends after the closing quote.
bool ParseQuoted(const std::string& text, size_t& pos, std::string* out) {
  out->clear();
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < text.size()) c = text[++pos];
    out->push_back(c);
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (digits.empty()) continue;
      if (digits.size() > 2) return false;
      out->push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    } else if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
    } else {
      return false;
    }
  }
  if (!digits.empty()) {
    if (digits.size() > 2) return false;
    out->push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
  }
  return true;
}

bool IsTextType(uint32_t type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The readable forms a report prints: expand:"text" for REG_EXPAND_SZ and
// multi:"a", "b" for REG_MULTI_SZ (each string NUL-terminated, then one
// more NUL), in the file's encoding.
bool ParseReadableText(const std::string& data, uint32_t* type, std::string* bytes) {
  size_t pos = 0;
  if (data.compare(0, 7, "expand:") == 0) {
    *type = REG_EXPAND_SZ;
    pos = 7;
  } else if (data.compare(0, 6, "multi:") == 0) {
    *type = REG_MULTI_SZ;
    pos = 6;
  } else {
    return false;
  }
  bytes->clear();
  std::string text;
  for (bool first = true; pos < data.size(); first = false) {
    if (!first) {
      if (data[pos] != ',') return false;
      pos = data.find_first_not_of(' ', pos + 1);
      if (pos == std::string::npos || *type != REG_MULTI_SZ) return false;
    }
    if (data[pos] != '"' || !ParseQuoted(data, pos, &text)) return false;
    *bytes += text;
    bytes->push_back('\0');
  }
  if (bytes->empty()) return false;
  if (*type == REG_MULTI_SZ) bytes->push_back('\0');
  return true;
}

std::vector<uint8_t> WideBytesToAnsi(const std::vector<uint8_t>& bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  std::string ansi = Utf16ToAnsi(wide);
  return std::vector<uint8_t>(ansi.begin(), ansi.end());
}

std::vector<uint8_t> AnsiToWideBytes(const std::vector<uint8_t>& bytes) {
  std::u16string wide;
  AnsiToUtf16(std::string(bytes.begin(), bytes.end()), &wide);
  std::vector<uint8_t> out;
  for (char16_t c : wide) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string HexList(const std::vector<uint8_t>& bytes) {
  std::string out;
  char digits[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    snprintf(digits, sizeof(digits), "%02x", bytes[i]);
    if (i > 0) out.push_back(',');
    out += digits;
  }
  return out;
}

std::string FormatValue(const RegValue& value) {
  std::string line = value.name.empty() ? "@=" : "\"" + Escape(AnsiToUtf8(value.name)) + "\"=";
  const std::vector<uint8_t>& data = value.data;
  if (value.type == REG_SZ && !data.empty() && data.back() == 0) {
    std::string text(data.begin(), data.end() - 1);
    if (text.find('\0') == std::string::npos) return line + "\"" + Escape(AnsiToUtf8(text)) + "\"";
  }
  if (value.type == REG_DWORD && data.size() == 4) {
    char digits[16];
    uint32_t number = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    snprintf(digits, sizeof(digits), "%08x", number);
    return line + "dword:" + digits;
  }
  if (value.type == REG_BINARY) return line + "hex:" + HexList(data);
  std::vector<uint8_t> bytes = IsTextType(value.type) ? AnsiToWideBytes(data) : data;
  return line + "hex(" + std::to_string(value.type) + "):" + HexList(bytes);
}

void ExportKey(const RegKey& key, const std::string& path, std::ostringstream& out) {
  out << "[" << AnsiToUtf8(path) << "]\r\n";
  for (const RegValue& value : key.Values()) out << FormatValue(value) << "\r\n";
  out << "\r\n";
  for (const auto& [folded, subkey] : key.Subkeys()) ExportKey(*subkey, path + "\\" + subkey->Name(), out);
}

}  // namespace

void Registry::Import(const std::string& raw) {
  std::string text = DecodeText(raw);
  std::vector<std::pair<int, std::string>> lines;
  {
    std::istringstream stream(text);
    std::string line;
    int number = 0;
    std::string pending;
    int pendingLine = 0;
    while (std::getline(stream, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!pending.empty()) {
        size_t start = line.find_first_not_of(" \t");
        line = pending + (start == std::string::npos ? "" : line.substr(start));
      } else {
        pendingLine = number;
      }
      // A hex list continues on the next line after a trailing backslash.
      if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
        line.pop_back();
        pending = line;
        continue;
      }
      pending.clear();
      lines.emplace_back(pendingLine, line);
    }
    if (!pending.empty()) throw RegFileError(pendingLine, "hex list continues past the end of the file");
  }

  std::shared_ptr<RegKey> current;
  bool sawHeader = false;
  bool ansi = false;  // REGEDIT4
  auto toAnsi = [&ansi](const std::string& text) { return ansi ? text : Utf8ToAnsi(text); };
  for (const auto& [number, rawLine] : lines) {
    size_t start = rawLine.find_first_not_of(" \t");
    if (start == std::string::npos || rawLine[start] == ';') continue;
    std::string line = rawLine.substr(start);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!sawHeader) {
      if (line != kHeader && line != kHeader4) {
        throw RegFileError(number, std::string("expected \"") + kHeader + "\" or \"" + kHeader4 + "\"");
      }
      sawHeader = true;
      ansi = line == kHeader4;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']') throw RegFileError(number, "key line without closing ]");
      std::string path = toAnsi(line.substr(1, line.size() - 2));
      bool remove = !path.empty() && path[0] == '-';
      if (remove) path.erase(0, 1);
      std::string root;
      std::string rest;
      if (!SplitRegistryPath(path, &root, &rest)) throw RegFileError(number, "unknown root key in [" + path + "]");
      if (remove) {
        DeleteTree(path);
        current.reset();
      } else {
        current = Create(path);
      }
      continue;
    }
    if (!current) throw RegFileError(number, "value outside a key");
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else if (line[0] == '"') {
      if (!ParseQuoted(line, pos, &name)) throw RegFileError(number, "unterminated value name");
      name = toAnsi(name);
    } else {
      throw RegFileError(number, "expected a value name, \"name\" or @");
    }
    if (pos >= line.size() || line[pos] != '=') throw RegFileError(number, "expected = after the value name");
    std::string data = line.substr(pos + 1);
    uint32_t readableType = REG_NONE;
    std::string readable;
    if (data == "-") {
      current->RemoveValue(name);
    } else if (!data.empty() && data[0] == '"') {
      size_t quoted = 0;
      std::string value;
      if (!ParseQuoted(data, quoted, &value) || quoted != data.size()) {
        throw RegFileError(number, "malformed string data");
      }
      std::string text = toAnsi(value);
      std::vector<uint8_t> bytes(text.begin(), text.end());
      bytes.push_back(0);
      current->SetValue(name, REG_SZ, std::move(bytes));
    } else if (data.compare(0, 7, "expand:") == 0 || data.compare(0, 6, "multi:") == 0) {
      if (!ParseReadableText(data, &readableType, &readable)) {
        throw RegFileError(number, "malformed text: expand:\"...\" or multi:\"...\", \"...\"");
      }
      std::string text = toAnsi(readable);
      current->SetValue(name, readableType, std::vector<uint8_t>(text.begin(), text.end()));
    } else if (data.compare(0, 6, "dword:") == 0) {
      std::string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw RegFileError(number, "dword needs 1 to 8 hex digits");
      }
      uint32_t value = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
      current->SetValue(name, REG_DWORD,
                        {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                         static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
    } else if (data.compare(0, 3, "hex") == 0) {
      uint32_t type = REG_BINARY;
      size_t colon = data.find(':');
      if (colon == std::string::npos) throw RegFileError(number, "hex data without ':'");
      std::string kind = data.substr(3, colon - 3);
      if (!kind.empty()) {
        // One to eight hex digits: a longer type would not fit a DWORD.
        if (kind.size() < 3 || kind.size() > 10 || kind.front() != '(' || kind.back() != ')' ||
            kind.find_first_not_of("0123456789abcdefABCDEF", 1) != kind.size() - 1) {
          throw RegFileError(number, "malformed hex(type)");
        }
        type = static_cast<uint32_t>(std::stoul(kind.substr(1, kind.size() - 2), nullptr, 16));
      }
      std::vector<uint8_t> bytes;
      if (!ParseHexBytes(data.substr(colon + 1), &bytes)) throw RegFileError(number, "malformed hex byte list");
      if (IsTextType(type) && !ansi) {
        if (bytes.size() % 2 != 0) throw RegFileError(number, "text data of odd length");
        bytes = WideBytesToAnsi(bytes);
      }
      current->SetValue(name, type, std::move(bytes));
    } else {
      throw RegFileError(number, "unknown value data: " + data);
    }
  }
  if (!sawHeader) throw RegFileError(1, std::string("expected \"") + kHeader + "\" or \"" + kHeader4 + "\"");
}

std::string Registry::Export(const std::string& path) const {
  std::ostringstream out;
  out << kHeader << "\r\n\r\n";
  if (!path.empty()) {
    std::shared_ptr<RegKey> key = Find(path);
    std::string root;
    std::string rest;
    if (key && SplitRegistryPath(path, &root, &rest)) {
      ExportKey(*key, rest.empty() ? root : root + "\\" + rest, out);
    }
    return out.str();
  }
  for (const auto& [name, root] : roots_) {
    for (const auto& [folded, subkey] : root->Subkeys()) ExportKey(*subkey, name + "\\" + subkey->Name(), out);
  }
  return out.str();
}

}  // namespace host
