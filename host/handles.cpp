#include "host/handles.h"

namespace host {

HandleTable& HandleTable::Instance() {
  static HandleTable table;
  return table;
}

uint32_t HandleTable::Add(std::shared_ptr<HandleObject> object) {
  uint32_t handle = next_++;
  if (next_ == 0) next_ = 1;
  objects_[handle] = std::move(object);
  return handle;
}

bool HandleTable::Close(uint32_t handle) { return objects_.erase(handle) == 1; }

void HandleTable::Clear() { objects_.clear(); }

int HandleTable::OpenCount(HandleKind kind) const {
  int count = 0;
  for (const auto& [handle, object] : objects_) {
    if (object->Kind() == kind) ++count;
  }
  return count;
}

int HandleTable::OpenNonSessionCount() const {
  return static_cast<int>(objects_.size()) - OpenCount(HandleKind::kSession);
}

}  // namespace host
