// A Windows program for the Wine tests: loads a DLL and formats messages of
// its message table with the system's FormatMessageA, as the library does,
// with the inserts "OV" and "Velmora".
//
//   message_table_probe.exe DLL LANGID:ID...
//
// Prints "acp N" (the ANSI code page), then per query "LANGID ID ok HEX" with
// the text's bytes in hex (no console conversion to get in the way) or
// "LANGID ID error N" with the last error.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

DWORD Format(HMODULE module, DWORD id, DWORD language, char** text, ...) {
  va_list inserts;
  va_start(inserts, text);
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER, module, id, language,
                                reinterpret_cast<LPSTR>(text), 1024, &inserts);
  va_end(inserts);
  return length;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DLL LANGID:ID...\n", argv[0]);
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s: %lu\n", argv[1], GetLastError());
    return 1;
  }
  std::printf("acp %u\n", GetACP());
  for (int i = 2; i < argc; ++i) {
    char* end = nullptr;
    unsigned long language = std::strtoul(argv[i], &end, 0);
    if (*end != ':') {
      std::fprintf(stderr, "bad query %s\n", argv[i]);
      return 2;
    }
    unsigned long id = std::strtoul(end + 1, nullptr, 0);
    char* text = nullptr;
    DWORD length = Format(module, id, language, &text, "OV", "Velmora");
    if (length == 0) {
      std::printf("%lu %lx error %lu\n", language, id, GetLastError());
      continue;
    }
    std::string hex;
    char byte[4];
    for (DWORD k = 0; k < length; ++k) {
      std::snprintf(byte, sizeof(byte), "%02x", static_cast<unsigned char>(text[k]));
      hex += byte;
    }
    std::printf("%lu %lx ok %s\n", language, id, hex.c_str());
    LocalFree(text);
  }
  FreeLibrary(module);
  return 0;
}
