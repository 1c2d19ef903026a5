// The installer's handle table: sessions, databases, views and records are
// objects behind 32-bit handles, counted so that tests can assert that an
// action leaves none open.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace host {

enum class HandleKind { kSession, kDatabase, kView, kRecord };

class HandleObject {
 public:
  virtual ~HandleObject() = default;
  virtual HandleKind Kind() const = 0;
};

class HandleTable {
 public:
  static HandleTable& Instance();

  uint32_t Add(std::shared_ptr<HandleObject> object);
  bool Close(uint32_t handle);
  void Clear();

  template <typename T>
  std::shared_ptr<T> Get(uint32_t handle) const {
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    return std::dynamic_pointer_cast<T>(it->second);
  }

  // Open handles of one kind.
  int OpenCount(HandleKind kind) const;
  // Open database, view and record handles: what an action must not leave.
  int OpenNonSessionCount() const;

 private:
  std::map<uint32_t, std::shared_ptr<HandleObject>> objects_;
  uint32_t next_ = 1;
};

}  // namespace host
