// The machine's ANSI code page: 1252 by default, 932 (double-byte, where a
// trail byte may be 0x5C, the backslash) on request.
#pragma once

#include <cstdint>
#include <string>

namespace host {

void SetAnsiCodePage(unsigned int codePage);
unsigned int AnsiCodePage();
bool IsLeadByte(unsigned char byte);
// The byte length of the character at text (0 at the terminating NUL).
size_t CharLength(const char* text);
// ANSI text (without its NUL) to UTF-16; false when it cannot be converted.
bool AnsiToUtf16(const std::string& text, std::u16string* out);

}  // namespace host

namespace host {

// UTF-16 to ANSI; characters the code page lacks become '?'.
std::string Utf16ToAnsi(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);
// Folds ASCII letters of single-byte characters to lower case, leaving the
// bytes of double-byte characters alone: the key for case-insensitive names.
std::string FoldCase(const std::string& text);

}  // namespace host
