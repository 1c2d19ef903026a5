// The simulated machine's registry: keys whose names compare without regard
// to letter case but keep their spelling, typed values, access denied on
// request, and the regedit .reg text format to seed and dump a machine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/win32_registry.h"

namespace host {

struct RegValue {
  std::string name;  // "" is the key's default value
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

class RegKey {
 public:
  explicit RegKey(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  // Subkeys in the order the registry enumerates them: by name, ignoring case.
  const std::map<std::string, std::shared_ptr<RegKey>>& Subkeys() const { return subkeys_; }
  std::shared_ptr<RegKey> Subkey(const std::string& name) const;
  std::shared_ptr<RegKey> AddSubkey(const std::string& name);
  bool RemoveSubkey(const std::string& name);

  // Values in the order they were created.
  const std::vector<RegValue>& Values() const { return values_; }
  const RegValue* Value(const std::string& name) const;
  void SetValue(const std::string& name, uint32_t type, std::vector<uint8_t> data);
  bool RemoveValue(const std::string& name);

  // Access rights that opening this key refuses (ERROR_ACCESS_DENIED).
  uint32_t DeniedAccess() const { return denied_; }
  void SetDeniedAccess(uint32_t mask) { denied_ = mask; }
  bool Deleted() const { return deleted_; }
  void MarkDeleted();

 private:
  std::string name_;
  std::map<std::string, std::shared_ptr<RegKey>> subkeys_;
  std::vector<RegValue> values_;
  uint32_t denied_ = 0;
  bool deleted_ = false;
};

// A malformed .reg file: the message names the line.
class RegFileError : public std::runtime_error {
 public:
  RegFileError(int line, const std::string& message)
      : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line), message_(message) {}
  int Line() const { return line_; }
  // The message without its line.
  const std::string& Message() const { return message_; }

 private:
  int line_;
  std::string message_;
};

class Registry {
 public:
  Registry();

  // The root of a predefined key (HKEY_LOCAL_MACHINE ...), or null.
  std::shared_ptr<RegKey> Root(HKEY predefined) const;
  // Keys by full path: "HKEY_LOCAL_MACHINE\Software\..." (or HKLM, HKCU).
  std::shared_ptr<RegKey> Find(const std::string& path) const;
  std::shared_ptr<RegKey> Create(const std::string& path);
  bool DeleteTree(const std::string& path);

  void SetString(const std::string& path, const std::string& name, const std::string& value, uint32_t type = REG_SZ);
  void SetDword(const std::string& path, const std::string& name, uint32_t value);
  void SetBinary(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> data);
  std::optional<RegValue> Value(const std::string& path, const std::string& name) const;
  // A string value without its terminating NUL; nullopt when missing.
  std::optional<std::string> String(const std::string& path, const std::string& name) const;
  std::optional<uint32_t> Dword(const std::string& path, const std::string& name) const;
  void Deny(const std::string& path, uint32_t mask);

  // regedit's text format, version 5.00; text is UTF-8 (or UTF-16 with a BOM)
  // and strings are converted to and from the ANSI code page.
  void Import(const std::string& text);
  // The whole registry, or the tree under path.
  std::string Export(const std::string& path = "") const;
  void Clear();

 private:
  std::map<std::string, std::shared_ptr<RegKey>> roots_;  // by canonical root name
};

// The local machine's registry.
Registry& LocalRegistry();
// Open key handles (what an action must close).
int OpenRegistryKeyCount();
void CloseAllRegistryKeys();

// Splits "ROOT\a\b" into the canonical root name and the rest; false for an
// unknown root.
bool SplitRegistryPath(const std::string& path, std::string* root, std::string* rest);

}  // namespace host
