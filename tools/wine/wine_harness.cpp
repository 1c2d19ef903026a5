#include "tools/wine/wine_harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace wine {

namespace {

// The loaders themselves rather than the `wine` wrapper, which would choose
// by the program it is given. The wineserver wrapper starts the 64-bit
// server, which serves 32-bit and 64-bit clients alike.
const char kWine32[] = "/usr/lib/wine/wine";
const char kWine64[] = "/usr/lib/wine/wine64";
const char kWineServer[] = "/usr/lib/wine/wineserver";
// Grace period after the timeout's TERM before KILL.
const char kKillAfter[] = "10";
// `timeout` exits with this when it had to stop the command.
const int kTimedOut = 124;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

// Absolute path of a program, looked up on PATH unless it has a slash.
std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    if (access(name.c_str(), X_OK) != 0) {
      throw std::runtime_error("required program missing: " + name);
    }
    return name;
  }
  const char* pathVariable = std::getenv("PATH");
  std::stringstream dirs(pathVariable != nullptr ? pathVariable : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
  }
  throw std::runtime_error("required program not found on PATH: " + name);
}

// Runs argv[0] (an absolute path) with the environment plus `overrides`, stdin
// from /dev/null, stdout and stderr into `outputFile`. Returns the exit code,
// 128 + signal for a killed process.
int RunProcess(const std::vector<std::string>& argv, const fs::path& workingDir, const fs::path& outputFile,
               const std::map<std::string, std::string>& overrides) {
  // Everything the child needs is built before fork.
  std::vector<std::string> envStrings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string variable(*entry);
    std::string name = variable.substr(0, variable.find('='));
    if (overrides.count(name) == 0) {
      envStrings.push_back(variable);
    }
  }
  for (const auto& [name, value] : overrides) {
    envStrings.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& variable : envStrings) {
    envp.push_back(variable.data());
  }
  envp.push_back(nullptr);
  std::vector<std::string> argStrings(argv);
  std::vector<char*> args;
  for (std::string& arg : argStrings) {
    args.push_back(arg.data());
  }
  args.push_back(nullptr);
  std::string dir = workingDir.string();
  std::string output = outputFile.string();

  pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
        dup2(out, STDERR_FILENO) < 0 || (!dir.empty() && chdir(dir.c_str()) != 0)) {
      _exit(126);
    }
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    }
  }
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

struct ProcessResult {
  int exitCode;
  std::string output;
};

// A scratch file name unique across the test processes sharing the tree.
fs::path ScratchFile(const std::string& stem) {
  static std::atomic<int> counter{0};
  fs::path dir = HarnessRoot() / "tmp";
  fs::create_directories(dir);
  return dir / (stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".out");
}

ProcessResult Capture(const std::vector<std::string>& argv, const fs::path& workingDir,
                      const std::map<std::string, std::string>& overrides = {}) {
  fs::path outputFile = ScratchFile(fs::path(argv[0]).filename().string());
  int exitCode = RunProcess(argv, workingDir, outputFile, overrides);
  std::string output = fs::exists(outputFile) ? ReadBytes(outputFile) : std::string();
  std::error_code ignored;
  fs::remove(outputFile, ignored);
  if (exitCode == 126 || exitCode == 127) {
    throw std::runtime_error("could not start " + argv[0] + " (exit " + std::to_string(exitCode) + ")");
  }
  return {exitCode, output};
}

std::vector<std::string> WithTimeout(std::vector<std::string> command) {
  std::vector<std::string> argv = {FindProgram("timeout"), "-k", kKillAfter, std::to_string(kWineTimeoutSeconds)};
  argv.insert(argv.end(), command.begin(), command.end());
  return argv;
}

// Exclusive flock on the prefix's prefix.lock for the life of the object.
// Every wine call takes it: a second msiexec in the same prefix would wait on
// the installer's mutex, and `wineserver -w` would wait for the other
// process. The prefixes of the two architectures do not share it.
class PrefixLock {
 public:
  explicit PrefixLock(const fs::path& dir) {
    fs::create_directories(dir);
    fs::path path = dir / "prefix.lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int error = errno;
        close(fd_);
        throw std::runtime_error("cannot lock " + path.string() + ": " + std::strerror(error));
      }
    }
  }
  ~PrefixLock() { close(fd_); }
  PrefixLock(const PrefixLock&) = delete;
  PrefixLock& operator=(const PrefixLock&) = delete;

 private:
  int fd_ = -1;
};

// Runs the i386 check program: empty when it ran and exited with its code,
// else why the kernel would not run it. Any other failure to start it is an
// error of the build, not of the machine.
std::string I386Refused() {
  const char* program = VRINCA_I386_CHECK;
  char* argv[] = {const_cast<char*>(program), nullptr};
  pid_t pid = 0;
  // posix_spawn reports a refused exec as its own result.
  int error = posix_spawn(&pid, program, nullptr, nullptr, argv, environ);
  if (error == ENOEXEC) {
    return std::string("the 32-bit Wine tier is skipped: this kernel does not run i386 programs (") +
           std::strerror(error) + ")";
  }
  if (error != 0) {
    throw std::runtime_error(std::string("cannot run ") + program + ": " + std::strerror(error));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
  }
  const int kCheckExitCode = 32;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != kCheckExitCode) {
    throw std::runtime_error(std::string(program) + " started but did not exit with " + std::to_string(kCheckExitCode) +
                             " (status " + std::to_string(status) + ")");
  }
  return {};
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// "Action start 11:18:08: Name." / "Action ended 11:18:08: Name. Return value 1."
// The time is skipped: everything up to the first ": " after the keyword.
bool ParseActionLine(const std::string& line, const std::string& keyword, std::string& rest) {
  if (!StartsWith(line, keyword)) {
    return false;
  }
  size_t colon = line.find(": ", keyword.size());
  if (colon == std::string::npos) {
    return false;
  }
  rest = line.substr(colon + 2);
  return true;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// UTF-16 code units from `bytes` starting at `offset`; an odd last byte is dropped.
std::string Utf16ToUtf8(const std::string& bytes, size_t offset, bool bigEndian) {
  std::string out;
  auto unitAt = [&](size_t i) {
    auto lo = static_cast<unsigned char>(bytes[i + (bigEndian ? 1 : 0)]);
    auto hi = static_cast<unsigned char>(bytes[i + (bigEndian ? 0 : 1)]);
    return static_cast<std::uint32_t>(lo | (hi << 8));
  };
  for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
    std::uint32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      std::uint32_t low = unitAt(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, unit);
  }
  return out;
}

std::vector<std::uint8_t> ParseHexBytes(const std::string& data) {
  std::vector<std::uint8_t> bytes;
  std::stringstream items(data);
  std::string item;
  while (std::getline(items, item, ',')) {
    size_t first = item.find_first_not_of(" \t");
    if (first == std::string::npos) {
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(item.substr(first), nullptr, 16)));
  }
  return bytes;
}

// Strings of REG_SZ-like data: UTF-16LE in a version 5 file, bytes in REGEDIT4.
std::string BytesToText(const std::vector<std::uint8_t>& bytes, bool unicode) {
  std::string raw(bytes.begin(), bytes.end());
  return unicode ? Utf16ToUtf8(raw, 0, false) : raw;
}

// Parses a quoted .reg string at text[pos] == '"'; returns the index after
// the closing quote.
size_t ParseQuoted(const std::string& text, size_t pos, std::string& value) {
  value.clear();
  for (size_t i = pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      return i + 1;
    }
    if (c == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      value += next == 'n' ? '\n' : next == 'r' ? '\r' : next == '0' ? '\0' : next;
    } else {
      value += c;
    }
  }
  throw std::runtime_error("unterminated string in .reg line: " + text);
}

RegistryValue ParseRegData(const std::string& data, bool unicode) {
  RegistryValue value;
  value.raw = data;
  if (!data.empty() && data[0] == '"') {
    value.type = RegistryValue::Type::kString;
    ParseQuoted(data, 0, value.text);
  } else if (StartsWith(data, "dword:")) {
    value.type = RegistryValue::Type::kDword;
    value.number = std::stoul(data.substr(6), nullptr, 16);
  } else if (StartsWith(data, "hex")) {
    size_t colon = data.find(':');
    if (colon == std::string::npos) {
      throw std::runtime_error("bad .reg data: " + data);
    }
    std::string kind = data.substr(3, colon - 3);
    value.bytes = ParseHexBytes(data.substr(colon + 1));
    if (kind.empty()) {
      value.type = RegistryValue::Type::kBinary;
    } else if (kind == "(2)") {
      value.type = RegistryValue::Type::kExpandString;
      value.text = BytesToText(value.bytes, unicode);
      value.text = value.text.substr(0, value.text.find('\0'));
    } else if (kind == "(7)") {
      value.type = RegistryValue::Type::kMultiString;
      std::string all = BytesToText(value.bytes, unicode);
      size_t start = 0;
      for (size_t end; (end = all.find('\0', start)) != std::string::npos && end != start; start = end + 1) {
        value.strings.push_back(all.substr(start, end - start));
      }
    } else if (kind == "(b)") {
      value.type = RegistryValue::Type::kQword;
      for (size_t i = 0; i < value.bytes.size() && i < 8; ++i) {
        value.number |= static_cast<std::uint64_t>(value.bytes[i]) << (8 * i);
      }
    }
  }
  return value;
}

}  // namespace

RunResult RunTool(const std::vector<std::string>& args, const fs::path& dir) {
  auto start = std::chrono::steady_clock::now();
  std::vector<std::string> argv = args;
  argv.at(0) = FindProgram(argv[0]);
  ProcessResult result = Capture(argv, dir);
  return {result.exitCode, result.output, SecondsSince(start)};
}

const char* ArchName(Arch arch) { return arch == Arch::kWin32 ? "win32" : "win64"; }

std::string CannotRun(Arch arch) {
  if (arch == Arch::kWin64) return {};
  static const std::string reason = I386Refused();
  return reason;
}

fs::path HarnessRoot() { return fs::path(VRINCA_BINARY_DIR) / "wine"; }

fs::path PackageTemplateDir() { return fs::path(VRINCA_SOURCE_DIR) / "tests" / "wine" / "packages"; }

fs::path RoadsTemplate() { return fs::path(VRINCA_SOURCE_DIR) / "tools" / "wine" / "roads.wxs"; }

fs::path KitDir() { return fs::path(VRINCA_SOURCE_DIR) / "packaging"; }

std::string ToWindowsPath(const fs::path& path) {
  std::string text = fs::absolute(path).lexically_normal().string();
  for (char& c : text) {
    if (c == '/') {
      c = '\\';
    }
  }
  return "Z:" + text;
}

std::string DecodeText(const std::string& bytes) {
  auto byteAt = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
    return Utf16ToUtf8(bytes, 2, false);
  }
  if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
    return Utf16ToUtf8(bytes, 2, true);
  }
  if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
    return bytes.substr(3);
  }
  // UTF-16LE without a BOM: ASCII text then has a NUL after every character.
  if (bytes.size() >= 4 && bytes.size() % 2 == 0 && byteAt(0) != 0 && byteAt(1) == 0 && byteAt(2) != 0 &&
      byteAt(3) == 0) {
    return Utf16ToUtf8(bytes, 0, false);
  }
  return bytes;
}

std::string ReadTextFile(const fs::path& path) { return DecodeText(ReadBytes(path)); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

std::optional<std::string> LoggedProperty(const std::string& log, const std::string& name) {
  const std::string mark = "Property(S): " + name + " = ";
  std::optional<std::string> value;
  for (const std::string& line : SplitLines(log)) {
    if (StartsWith(line, mark)) value = line.substr(mark.size());
  }
  return value;
}

std::vector<ActionRun> FindActionRuns(const std::string& log, const std::string& action) {
  const std::string startRest = action + ".";
  const std::string endRest = action + ". Return value ";
  std::vector<ActionRun> runs;
  std::optional<ActionRun> open;
  for (const std::string& line : SplitLines(log)) {
    std::string rest;
    if (ParseActionLine(line, "Action ended ", rest) && StartsWith(rest, endRest) && open) {
      std::string number = rest.substr(endRest.size());
      if (!number.empty() && number.back() == '.') {
        number.pop_back();
      }
      open->returnValue = std::stoi(number);
      runs.push_back(*open);
      open.reset();
    } else if (ParseActionLine(line, "Action start ", rest) && rest == startRest && !open) {
      open.emplace();
    } else if (open) {
      open->lines.push_back(line);
    }
  }
  return runs;
}

bool CaseInsensitiveLess::operator()(const std::string& left, const std::string& right) const {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return static_cast<unsigned char>(lower(a)) < static_cast<unsigned char>(lower(b));
  });
}

RegistryDump ParseRegFile(const std::string& text) {
  RegistryDump dump;
  std::vector<std::string> lines = SplitLines(text);
  if (lines.empty()) {
    throw std::runtime_error("empty .reg file");
  }
  bool unicode = StartsWith(lines[0], "Windows Registry Editor Version 5.00");
  if (!unicode && !StartsWith(lines[0], "REGEDIT4")) {
    throw std::runtime_error("not a .reg file: " + lines[0]);
  }
  RegistryValues* current = nullptr;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string line = lines[i];
    // Hex data is wrapped with a trailing backslash and indented continuations.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
      line.pop_back();
      const std::string& next = lines[++i];
      line += next.substr(std::min(next.find_first_not_of(" \t"), next.size()));
    }
    if (line.empty() || line[0] == ';') {
      continue;
    }
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos) {
        throw std::runtime_error("bad .reg key line: " + line);
      }
      current = line[1] == '-' ? nullptr : &dump[line.substr(1, close - 1)];
      continue;
    }
    if (current == nullptr) {
      continue;
    }
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      name = "@";
      pos = 1;
    } else if (line[0] == '"') {
      pos = ParseQuoted(line, 0, name);
    } else {
      throw std::runtime_error("bad .reg value line: " + line);
    }
    if (pos >= line.size() || line[pos] != '=') {
      throw std::runtime_error("bad .reg value line: " + line);
    }
    std::string data = line.substr(pos + 1);
    if (data == "-") {
      continue;
    }
    (*current)[name] = ParseRegData(data, unicode);
  }
  return dump;
}

const Prefix& Prefix::Of(Arch arch) {
  static const Prefix win32(Arch::kWin32);
  static const Prefix win64(Arch::kWin64);
  return arch == Arch::kWin32 ? win32 : win64;
}

fs::path Prefix::Dir() const { return dir_.empty() ? HarnessRoot() / ArchName(arch_) : dir_; }

fs::path Prefix::WinePrefix() const { return Dir() / "prefix"; }

fs::path Prefix::DistDir() const { return fs::path(VRINCA_DIST_DIR) / ArchName(arch_); }

fs::path Prefix::Dll() const { return DistDir() / "vrinca.dll"; }

std::map<std::string, std::string> Prefix::Environment() const {
  return {
      {"WINEPREFIX", WinePrefix().string()},
      // win32: a pure 32-bit Windows, without a 64-bit side (no syswow64).
      {"WINEARCH", ArchName(arch_)},
      {"WINEDEBUG", "-all"},
      // No Mono or Gecko installer prompts during boot.
      {"WINEDLLOVERRIDES", "mscoree,mshtml="},
  };
}

std::vector<std::string> Prefix::Command(const std::vector<std::string>& args) const {
  std::vector<std::string> command = {FindProgram(arch_ == Arch::kWin32 ? kWine32 : kWine64)};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

// Waits for the prefix's wineserver to exit, so that the next call starts on
// a quiet prefix and nothing of this one is still being written.
void Prefix::WaitForServer() const {
  ProcessResult result = Capture(WithTimeout({FindProgram(kWineServer), "-w"}), {}, Environment());
  if (result.exitCode == kTimedOut) {
    Capture({FindProgram(kWineServer), "-k"}, {}, Environment());
    throw std::runtime_error("wineserver -w timed out");
  }
}

// Caller holds the PrefixLock.
double Prefix::EnsureLocked() const {
  const fs::path stamp = Dir() / "prefix.ready";
  if (fs::exists(stamp) && fs::exists(WinePrefix() / "system.reg")) {
    return 0;
  }
  auto start = std::chrono::steady_clock::now();
  // No stamp: whatever is there is the remains of a failed or interrupted boot.
  fs::remove_all(WinePrefix());
  fs::remove(stamp);
  ProcessResult boot = Capture(WithTimeout(Command({"wineboot", "-u"})), {}, Environment());
  if (boot.exitCode != 0) {
    Capture({FindProgram(kWineServer), "-k"}, {}, Environment());
    throw std::runtime_error(std::string(ArchName(arch_)) + " wineboot -u failed with exit code " +
                             std::to_string(boot.exitCode) + ":\n" + boot.output);
  }
  // The boot leaves background tasks running; msiexec must not race them.
  WaitForServer();
  if (!fs::exists(WinePrefix() / "system.reg")) {
    throw std::runtime_error("wineboot -u left no registry in " + WinePrefix().string() + ":\n" + boot.output);
  }
  double seconds = SecondsSince(start);
  WriteBytes(stamp, "created in " + std::to_string(seconds) + " s\n");
  std::cerr << "[wine] created the " << ArchName(arch_) << " prefix " << WinePrefix() << " in " << seconds << " s\n";
  return seconds;
}

double Prefix::Ensure() const {
  PrefixLock lock(Dir());
  return EnsureLocked();
}

double Prefix::CopyOf(const Prefix& pristine) const {
  auto start = std::chrono::steady_clock::now();
  PrefixLock source(pristine.Dir());
  pristine.EnsureLocked();
  PrefixLock lock(Dir());
  fs::remove_all(WinePrefix());
  fs::remove(Dir() / "prefix.ready");
  // The prefix's drive links (dosdevices/c: -> ../drive_c) are copied as links.
  fs::copy(pristine.WinePrefix(), WinePrefix(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  const double seconds = SecondsSince(start);
  WriteBytes(Dir() / "prefix.ready", "copied from " + pristine.WinePrefix().string() + "\n");
  return seconds;
}

RunResult Prefix::Run(const std::vector<std::string>& args, const fs::path& workingDir) const {
  PrefixLock lock(Dir());
  EnsureLocked();
  auto start = std::chrono::steady_clock::now();
  ProcessResult result = Capture(WithTimeout(Command(args)), workingDir, Environment());
  if (result.exitCode == kTimedOut) {
    // Whatever the hung call left running in the prefix goes with it.
    Capture({FindProgram(kWineServer), "-k"}, {}, Environment());
    throw std::runtime_error(std::string(ArchName(arch_)) + " wine " + (args.empty() ? std::string() : args[0]) +
                             " timed out after " + std::to_string(kWineTimeoutSeconds) + " s:\n" + result.output);
  }
  if (waitForServer_) WaitForServer();
  return {result.exitCode, result.output, SecondsSince(start)};
}

RunResult Prefix::RunBatch(const std::vector<std::string>& lines) const {
  fs::path file = ScratchFile("batch");
  file.replace_extension(".bat");
  std::string text = "@echo off\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  WriteBytes(file, text);
  RunResult run = Run({"cmd", "/c", ToWindowsPath(file)});
  fs::remove(file);
  return run;
}

Package Prefix::NewPackage(const std::string& workName) const {
  if (!fs::exists(Dll())) {
    throw std::runtime_error(std::string(ArchName(arch_)) + " DLL missing: " + Dll().string() + " (make dist)");
  }
  if (workName.empty() || workName.find('/') != std::string::npos) {
    throw std::runtime_error("bad package work folder name: '" + workName + "'");
  }
  Package package;
  package.arch = arch_;
  package.workDir = Dir() / "work" / workName;
  fs::remove_all(package.workDir);
  fs::create_directories(package.workDir);
  return package;
}

Package Prefix::BuildPackage(const PackageOptions& options) const {
  const fs::path templatePath = fs::path(options.templateName).is_absolute()
                                    ? fs::path(options.templateName)
                                    : PackageTemplateDir() / options.templateName;
  if (!fs::exists(templatePath)) {
    throw std::runtime_error("package template missing: " + templatePath.string());
  }
  Package package = NewPackage(options.workName);

  std::string source = ReadBytes(templatePath);
  for (const auto& [name, text] : options.placeholders) {
    std::string key = "@" + name + "@";
    for (size_t pos = 0; (pos = source.find(key, pos)) != std::string::npos; pos += text.size()) {
      source.replace(pos, key.size(), text);
    }
  }
  std::smatch leftover;
  if (std::regex_search(source, leftover, std::regex("@[A-Z0-9_]+@"))) {
    throw std::runtime_error(options.templateName + ": placeholder " + leftover.str() + " has no value");
  }
  fs::path wxs = package.workDir / templatePath.filename();
  WriteBytes(wxs, source);
  fs::copy_file(Dll(), package.workDir / "vrinca.dll");
  for (const auto& [name, contents] : options.files) {
    fs::path file = package.workDir / name;
    fs::create_directories(file.parent_path());
    WriteBytes(file, contents);
  }

  package.msi = package.workDir / (templatePath.stem().string() + ".msi");
  const bool win32 = arch_ == Arch::kWin32;
  std::map<std::string, std::string> defines = {
      {"ProgramFilesFolder", win32 ? "ProgramFilesFolder" : "ProgramFiles64Folder"}, {"Win64", win32 ? "no" : "yes"}};
  for (const auto& [name, value] : options.defines) defines[name] = value;
  std::vector<std::string> wixlArgs = {FindProgram("wixl"), "-a", win32 ? "x86" : "x64"};
  for (const auto& [name, value] : defines) {
    wixlArgs.push_back("-D");
    wixlArgs.push_back(name + "=" + value);
  }
  for (const char* folder : {"common", "server", "console", "setup"}) {
    wixlArgs.push_back("-I");
    wixlArgs.push_back((KitDir() / folder).string());
  }
  wixlArgs.insert(wixlArgs.end(), {"-o", package.msi.filename().string(), wxs.filename().string()});
  ProcessResult wixl = Capture(wixlArgs, package.workDir);
  if (wixl.exitCode != 0 || !fs::exists(package.msi)) {
    throw std::runtime_error("wixl failed on " + wxs.string() + " (exit " + std::to_string(wixl.exitCode) + "):\n" +
                             wixl.output);
  }
  if (!wixl.output.empty()) {
    std::cerr << "[wine] wixl " << options.templateName << ":\n" << wixl.output;
  }
  std::vector<fs::path> kitTables;
  for (const std::string& table : options.kitTables) kitTables.push_back(KitDir() / table);
  if (!kitTables.empty()) Flatten(package, kitTables);
  for (const std::string& query : options.sql) {
    ProcessResult msibuild =
        Capture({FindProgram("msibuild"), package.msi.filename().string(), "-q", query}, package.workDir);
    if (msibuild.exitCode != 0) {
      throw std::runtime_error("msibuild -q \"" + query + "\" failed (exit " + std::to_string(msibuild.exitCode) +
                               "):\n" + msibuild.output);
    }
  }
  return package;
}

void Prefix::Flatten(const Package& package, const std::vector<fs::path>& tables) const {
  std::vector<std::string> args = {(KitDir() / "flatten.sh").string(), package.msi.string(), Dll().string()};
  for (const fs::path& table : tables) args.push_back(table.string());
  ProcessResult flatten = Capture(args, package.workDir);
  if (flatten.exitCode != 0) {
    throw std::runtime_error("flatten.sh failed on " + package.msi.string() + " (exit " +
                             std::to_string(flatten.exitCode) + "):\n" + flatten.output);
  }
}

Package Prefix::BuildExample(const std::string& example, const std::string& workName) const {
  Package package = NewPackage(workName);
  ProcessResult build =
      Capture({(KitDir() / "build-examples.sh").string(), ArchName(arch_), Dll().string(), package.workDir.string()},
              package.workDir);
  package.msi = package.workDir / example;
  if (build.exitCode != 0 || !fs::exists(package.msi)) {
    throw std::runtime_error("build-examples.sh failed for " + example + " (exit " + std::to_string(build.exitCode) +
                             "):\n" + build.output);
  }
  return package;
}

MsiexecResult Prefix::RunMsiexec(const Package& package, const std::string& option, const std::string& logStem,
                                 const std::vector<std::string>& properties, Ui ui) const {
  if (package.arch != arch_) {
    throw std::runtime_error(package.msi.string() + " was built for " + ArchName(package.arch) + ", not for the " +
                             ArchName(arch_) + " prefix");
  }
  fs::path logPath = package.workDir / (logStem + ".log");
  for (int n = 2; fs::exists(logPath); ++n) {
    logPath = package.workDir / (logStem + "-" + std::to_string(n) + ".log");
  }
  std::vector<std::string> args = {
      "msiexec", option, WindowsPathOf(package.msi), ui == Ui::kFull ? "/qf" : "/qn", "/l*v", ToWindowsPath(logPath)};
  args.insert(args.end(), properties.begin(), properties.end());
  RunResult run = Run(args, package.workDir);
  MsiexecResult result;
  result.exitCode = run.exitCode;
  result.output = run.output;
  result.seconds = run.seconds;
  result.logPath = logPath;
  // A run that fails before it opens the log leaves none: the exit code tells.
  if (fs::exists(logPath)) {
    result.log = ReadTextFile(logPath);
  }
  return result;
}

MsiexecResult Prefix::Install(const Package& package, const std::vector<std::string>& properties, Ui ui) const {
  return RunMsiexec(package, "/i", "install", properties, ui);
}

MsiexecResult Prefix::Remove(const Package& package, const std::vector<std::string>& properties, Ui ui) const {
  return RunMsiexec(package, "/x", "remove", properties, ui);
}

std::string Prefix::WindowsPathOf(const fs::path& path) const {
  const fs::path driveC = (WinePrefix() / "drive_c").lexically_normal();
  const fs::path relative = fs::absolute(path).lexically_normal().lexically_relative(driveC);
  if (relative.empty() || *relative.begin() == "..") return ToWindowsPath(path);
  std::string text = "C:\\" + relative.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

fs::path Prefix::Path(const std::string& windowsPath) const {
  if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') ||
      windowsPath.compare(1, 2, ":\\") != 0) {
    throw std::runtime_error("not a C: path: " + windowsPath);
  }
  fs::path path = WinePrefix() / "drive_c";
  std::stringstream parts(windowsPath.substr(3));
  std::string part;
  CaseInsensitiveLess less;
  while (std::getline(parts, part, '\\')) {
    if (part.empty()) continue;
    fs::path next = path / part;
    if (!fs::exists(next) && fs::is_directory(path)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
        const std::string name = entry.path().filename().string();
        if (!less(name, part) && !less(part, name)) {
          next = entry.path();
          break;
        }
      }
    }
    path = next;
  }
  return path;
}

void Prefix::WriteFiles(const std::vector<std::pair<std::string, std::string>>& files) const {
  for (const auto& [windowsPath, contents] : files) {
    fs::path file = Path(windowsPath);
    fs::create_directories(file.parent_path());
    WriteBytes(file, contents);
  }
}

std::vector<std::optional<RegistryDump>> Prefix::ExportRegistry(const std::vector<std::string>& keys) const {
  std::vector<std::optional<RegistryDump>> dumps;
  for (const std::optional<std::string>& text : ExportRegistryText(keys)) {
    dumps.emplace_back(text ? std::optional<RegistryDump>(ParseRegFile(*text)) : std::nullopt);
  }
  return dumps;
}

std::vector<std::optional<std::string>> Prefix::ExportRegistryText(const std::vector<std::string>& keys) const {
  std::vector<fs::path> files;
  std::vector<std::string> lines;
  for (const std::string& key : keys) {
    files.push_back(ScratchFile("reg-export"));
    files.back().replace_extension(".reg");
    lines.push_back("reg export \"" + key + "\" \"" + ToWindowsPath(files.back()) + "\" /y >nul 2>nul");
  }
  // A missing file means a missing key only when the batch ran to its end:
  // a wine start that failed (seen when it met a wineserver on its way out)
  // would otherwise read as a registry without those keys. One retry, after
  // the server is gone.
  const char kDone[] = "vrinca-exports-done";
  lines.push_back(std::string("echo ") + kDone);
  RunResult run = RunBatch(lines);
  if (run.output.find(kDone) == std::string::npos) {
    WaitForServer();
    run = RunBatch(lines);
  }
  if (run.output.find(kDone) == std::string::npos) {
    throw std::runtime_error("reg export did not run (exit " + std::to_string(run.exitCode) + "):\n" + run.output);
  }
  // reg writes no file for a key that does not exist.
  std::vector<std::optional<std::string>> texts;
  for (const fs::path& file : files) {
    if (!fs::exists(file)) {
      texts.emplace_back();
      continue;
    }
    texts.emplace_back(ReadTextFile(file));
    fs::remove(file);
  }
  return texts;
}

void Prefix::ImportRegistry(const std::string& regText) const {
  fs::path file = ScratchFile("reg-import");
  file.replace_extension(".reg");
  // UTF-16 with its mark, as regedit writes version 5 files: Wine's reg
  // reads an 8-bit one as ANSI text and widens hex(2) and hex(7) data that
  // is UTF-16 already a second time.
  const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n" + regText;
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) throw std::runtime_error("reg import takes ASCII text: " + regText);
    utf16 += c;
    utf16 += '\0';
  }
  WriteBytes(file, utf16);
  RunResult run = Run({"reg", "import", ToWindowsPath(file)});
  fs::remove(file);
  if (run.exitCode != 0) throw std::runtime_error("reg import failed:\n" + run.output + "\n" + regText);
}

std::optional<RegistryDump> Prefix::ExportRegistry(const std::string& key) const {
  fs::path file = ScratchFile("reg-export");
  file.replace_extension(".reg");
  RunResult run = Run({"reg", "export", key, ToWindowsPath(file), "/y"});
  if (run.exitCode != 0) {
    return std::nullopt;
  }
  if (!fs::exists(file)) {
    throw std::runtime_error("reg export " + key + " succeeded but wrote no file:\n" + run.output);
  }
  std::string text = ReadTextFile(file);
  fs::remove(file);
  return ParseRegFile(text);
}

}  // namespace wine
