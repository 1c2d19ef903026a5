// FormatMessage's formatting of a message text: inserts, escapes and line
// breaks, on ANSI text, as FormatMessageA applies them.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace host {

// Formats text by the rules of FormatMessage for the given flags:
// - "%1".."%99" insert argument n, optionally followed by "!format!"; the
//   arguments are ANSI strings (a null one gives "(null)") taken from the
//   va_list in order, or from an array of pointer-sized values with
//   FORMAT_MESSAGE_ARGUMENT_ARRAY. Only string formats ("s" with flags, width
//   and precision) are supported: the library passes strings only, and
//   any other format fails with ERROR_INVALID_PARAMETER rather than reading an
//   argument of a type the host does not know;
// - "%0" ends the output, "%n" is CR LF, "%r" CR, "%t" TAB, and "%" followed
//   by any other character is that character ("%%", "%.", "%!", "% ");
// - CR LF, a lone CR and a lone LF in the text each become CR LF, or one blank
//   with FORMAT_MESSAGE_MAX_WIDTH_MASK; other widths would need line wrapping,
//   which the host does not do, and fail with ERROR_INVALID_PARAMETER;
// - with FORMAT_MESSAGE_IGNORE_INSERTS inserts and the other escapes pass
//   through unchanged; only "%0", "%n", "%r" and "%t" are applied;
// - an insert without arguments, a "%" at the end of the text and an
//   unterminated "!format!" fail with ERROR_INVALID_PARAMETER.
// Returns ERROR_SUCCESS and the text in out, or the error.
uint32_t FormatMessageText(const std::string& text, uint32_t flags, va_list* arguments, std::string* out);

}  // namespace host
