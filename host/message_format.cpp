#include "host/message_format.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "host/win32_types.h"

namespace host {

namespace {

// The arguments of the inserts. From a va_list they can only be read in
// order, so the ones read so far are kept for inserts that come back to them.
class InsertArguments {
 public:
  InsertArguments(uint32_t flags, va_list* arguments)
      : array_((flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0), arguments_(arguments) {}

  bool Get(unsigned number, const char** value) {
    if (arguments_ == nullptr) return false;
    if (array_) {
      // FormatMessage's contract for FORMAT_MESSAGE_ARGUMENT_ARRAY: the
      // pointer is really an array of DWORD_PTR.
      const DWORD_PTR* array = reinterpret_cast<const DWORD_PTR*>(arguments_);
      *value = reinterpret_cast<const char*>(array[number - 1]);
      return true;
    }
    while (read_.size() < number) read_.push_back(va_arg(*arguments_, const char*));
    *value = read_[number - 1];
    return true;
  }

 private:
  bool array_;
  va_list* arguments_;
  std::vector<const char*> read_;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Flags, width, precision and "s": the printf string conversions.
bool IsStringFormat(const std::string& format) {
  size_t i = 0;
  while (i < format.size() && std::string("-+ #0").find(format[i]) != std::string::npos) ++i;
  while (i < format.size() && IsDigit(format[i])) ++i;
  if (i < format.size() && format[i] == '.') {
    ++i;
    while (i < format.size() && IsDigit(format[i])) ++i;
  }
  return i + 1 == format.size() && format[i] == 's';
}

bool AppendInsert(const std::string& format, const char* value, std::string* out) {
  if (value == nullptr) value = "(null)";
  if (format == "s") {
    out->append(value);
    return true;
  }
  if (!IsStringFormat(format)) return false;
  const std::string conversion = "%" + format;
  int length = std::snprintf(nullptr, 0, conversion.c_str(), value);
  if (length < 0) return false;
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::snprintf(buffer.data(), buffer.size(), conversion.c_str(), value);
  out->append(buffer.data(), static_cast<size_t>(length));
  return true;
}

}  // namespace

uint32_t FormatMessageText(const std::string& text, uint32_t flags, va_list* arguments, std::string* out) {
  const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
  const uint32_t width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK) return ERROR_INVALID_PARAMETER;
  const char* lineBreak = width == 0 ? "\r\n" : " ";
  InsertArguments inserts(flags, arguments);
  std::string result;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      result += lineBreak;
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    if (c != '%') {
      result += c;
      ++i;
      continue;
    }
    if (i + 1 == text.size()) {
      if (!ignoreInserts) return ERROR_INVALID_PARAMETER;
      result += c;
      break;
    }
    const char escape = text[i + 1];
    if (escape == '0') break;
    if (escape >= '1' && escape <= '9') {
      unsigned number = static_cast<unsigned>(escape - '0');
      size_t end = i + 2;
      if (end < text.size() && IsDigit(text[end])) number = number * 10 + static_cast<unsigned>(text[end++] - '0');
      std::string format = "s";
      if (end < text.size() && text[end] == '!') {
        size_t close = text.find('!', end + 1);
        if (close == std::string::npos) return ERROR_INVALID_PARAMETER;
        format = text.substr(end + 1, close - end - 1);
        end = close + 1;
      }
      if (ignoreInserts) {
        result.append(text, i, end - i);
      } else {
        const char* value = nullptr;
        if (!inserts.Get(number, &value) || !AppendInsert(format, value, &result)) return ERROR_INVALID_PARAMETER;
      }
      i = end;
      continue;
    }
    if (escape == 'n') {
      result += "\r\n";
    } else if (escape == 'r') {
      result += '\r';
    } else if (escape == 't') {
      result += '\t';
    } else {
      if (ignoreInserts) result += '%';
      result += escape;
    }
    i += 2;
  }
  *out = std::move(result);
  return ERROR_SUCCESS;
}

}  // namespace host
