// The system message table: Windows' texts for the error numbers the library
// reports, each with its trailing line break as FormatMessage returns it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace host {

std::optional<std::string> SystemMessageText(uint32_t id);

}  // namespace host
