#include "host/code_page.h"

#include <iconv.h>

#include <cerrno>

namespace host {

namespace {
unsigned int g_codePage = 1252;
}  // namespace

void SetAnsiCodePage(unsigned int codePage) { g_codePage = codePage; }

unsigned int AnsiCodePage() { return g_codePage; }

bool IsLeadByte(unsigned char byte) {
  if (g_codePage != 932) return false;
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

size_t CharLength(const char* text) {
  if (text[0] == '\0') return 0;
  if (IsLeadByte(static_cast<unsigned char>(text[0])) && text[1] != '\0') return 2;
  return 1;
}

// Windows-1252's 0x80-0x9F; the five bytes it leaves undefined map to the C1
// controls of the same value, as Windows maps them.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool AnsiToUtf16(const std::string& text, std::u16string* out) {
  if (g_codePage != 932) {
    out->clear();
    for (char c : text) {
      unsigned char byte = static_cast<unsigned char>(c);
      out->push_back(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte));
    }
    return true;
  }
  iconv_t converter = iconv_open("UTF-16LE", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input = text;
  std::string output(input.size() * 4 + 4, '\0');
  char* in = input.data();
  size_t inLeft = input.size();
  char* outPtr = output.data();
  size_t outLeft = output.size();
  size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(converter);
  if (result == static_cast<size_t>(-1)) return false;
  size_t bytes = output.size() - outLeft;
  out->clear();
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    out->push_back(static_cast<char16_t>(static_cast<unsigned char>(output[i]) |
                                         (static_cast<unsigned char>(output[i + 1]) << 8)));
  }
  return true;
}

std::string Utf16ToAnsi(const std::u16string& text) {
  std::string out;
  if (g_codePage != 932) {
    for (char16_t c : text) {
      if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        out.push_back(static_cast<char>(c));
        continue;
      }
      char mapped = '?';
      for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c) mapped = static_cast<char>(0x80 + i);
      }
      out.push_back(mapped);
    }
    return out;
  }
  iconv_t converter = iconv_open("CP932//TRANSLIT", "UTF-16LE");
  if (converter == reinterpret_cast<iconv_t>(-1)) return out;
  std::string input;
  for (char16_t c : text) {
    input.push_back(static_cast<char>(c & 0xFF));
    input.push_back(static_cast<char>(c >> 8));
  }
  std::string output(text.size() * 2 + 4, '\0');
  char* in = input.data();
  size_t inLeft = input.size();
  char* outPtr = output.data();
  size_t outLeft = output.size();
  while (inLeft > 0) {
    if (iconv(converter, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ || outLeft == 0) break;
    *outPtr++ = '?';
    --outLeft;
    in += 2;
    inLeft -= 2;
  }
  iconv_close(converter);
  output.resize(output.size() - outLeft);
  return output;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t code = c;
    size_t extra = 0;
    if (c >= 0xF0) {
      code = c & 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      code = c & 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      code = c & 0x1F;
      extra = 1;
    }
    ++i;
    // A sequence cut short, or with a byte that does not continue it, is one
    // replacement character for its lead byte; what follows is read afresh.
    size_t k = 0;
    while (k < extra && i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80) ++k;
    if (k < extra) {
      out.push_back(u'\uFFFD');
      continue;
    }
    for (; k > 0; --k, ++i) {
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    if (code > 0x10FFFF) {
      out.push_back(u'\uFFFD');
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

std::string AnsiToUtf8(const std::string& text) {
  std::u16string wide;
  if (!AnsiToUtf16(text, &wide)) return text;
  return Utf16ToUtf8(wide);
}

std::string Utf8ToAnsi(const std::string& text) { return Utf16ToAnsi(Utf8ToUtf16(text)); }

std::string FoldCase(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size();) {
    size_t length = CharLength(out.c_str() + i);
    unsigned char byte = static_cast<unsigned char>(out[i]);
    if (length == 1 && byte >= 'A' && byte <= 'Z') out[i] = static_cast<char>(byte - 'A' + 'a');
    // Latin-1 capitals of code page 1252 (but the multiplication sign).
    if (length == 1 && g_codePage != 932 && byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) {
      out[i] = static_cast<char>(byte + 0x20);
    }
    i += length == 0 ? 1 : length;
  }
  return out;
}

}  // namespace host
