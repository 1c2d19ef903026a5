#include "tools/road/machines.h"

#include <cstdio>

#include "host/filesystem.h"
#include "host/registry.h"
#include "host/shares.h"
#include "host/shell_folders.h"
#include "tools/road/pe_builder.h"
#include "tools/road/road.h"

namespace vrinroad {

namespace {

const char kRunningServer[] = "C:\\Program Files\\Lumicor Velmora\\Server";

std::string Programs() { return host::ShellFolders::Instance().CommonPrograms(); }

}  // namespace

PackageOptions OtherProduct(const std::string& number, const std::string& installDir, bool withConsole) {
  PackageOptions package;
  package.products = number;
  package.installDir = installDir;
  package.withConsole = withConsole;
  package.productSubType = "7";
  return package;
}

PackageOptions ProductTwo() { return OtherProduct("2", "C:\\Program Files\\Tessaro\\Agent\\"); }

std::string ExpandSz(const std::string& text) {
  std::string hex = "hex(2):";
  for (size_t i = 0; i <= text.size(); ++i) {
    char byte[8];
    snprintf(byte, sizeof(byte), "%02x,00", i < text.size() ? static_cast<unsigned char>(text[i]) : 0);
    hex += (i == 0 ? "" : ",") + std::string(byte);
  }
  return hex;
}

void Seed(const std::string& regText) {
  host::LocalRegistry().Import("Windows Registry Editor Version 5.00\r\n\r\n" + regText);
}

EarlierMachine PreviousGeneration() {
  EarlierMachine machine;
  machine.reg =
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion]\r\n"
      "\"ServicePath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\"\r\n"
      "\"GuiPath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\"\r\n"
      "\"Products\"=dword:00000001\r\n"
      "\"ProdSubType\"=dword:00000005\r\n"
      "\"MajorVersion\"=dword:00000006\r\n"
      "\"MinorVersion\"=dword:0000003d\r\n"
      "\"DriverPath\"=\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"\r\n"
      "\"InstallTime\"=\"2001-05-14 10:12\"\r\n"
      "\"Organization\"=\"Brennholm Ltd\"\r\n"
      "\"User\"=\"operator\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarrow ATG\\Skelda\\CurrentVersion]\r\n"
      "\"User\"=\"operator\"\r\n"
      "\"LogLevel\"=dword:00000003\r\n"
      "\"Version\"=\"4.1\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"=dword:00000001\r\n"
      "\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\\\\skdwin.exe\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\\\\skdwin.dll\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Console\\\\skdwin.hlp\"=dword:00000001\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters]\r\n"
      "\"IRPstackSize\"=dword:00000010\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver]\r\n"
      "\"Type\"=dword:00000002\r\n"
      "\"Start\"=dword:00000001\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz("System32\\drivers\\skdnt.sys") +
      "\r\n"
      "\"DisplayName\"=\"OV VRIN Driver\"\r\n"
      "\"Group\"=\"Filter\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz(kOldServerImage) +
      "\r\n"
      "\"DisplayName\"=\"OV VRIN Server\"\r\n"
      "\"ObjectName\"=\"LocalSystem\"\r\n";
  machine.files.emplace_back(kOldServerImage, vrintest::VersionedDll({6, 61, 0, 300}));
  for (const char* name : {"skdnt60.cli", "skdnt.sys", "skdnt351.sys", "skdnt64.cli", "skdnt.cfg"}) {
    machine.files.emplace_back(std::string(kOldServer) + "\\" + name, "old");
  }
  machine.files.emplace_back(kDriverFile, "old driver");
  machine.files.emplace_back(kOldConsoleImage, vrintest::VersionedDll({8, 2, 0, 140}));
  for (const char* name : {"skdwin.dll", "skdwin.hlp", "tslogclt.nlm", "skd.cfg", "skdupdat.exe", "skdnt.cfg",
                           "Engalpha\\alpha.dat", "Engi86\\i86.dat"}) {
    machine.files.emplace_back(std::string(kOldConsole) + "\\" + name, "old");
  }
  machine.files.emplace_back("C:\\WINDOWS\\skdwin.ini",
                             "[SKDInformation]\r\nDir=C:\\Program Files\\Orvannic\\OV VRIN\\Console\r\n");
  const std::string programs = Programs();
  machine.files.emplace_back(programs + "\\Velmora.lnk", "link");
  machine.files.emplace_back(programs + "\\Velmora\\Velmora Console.lnk", "link");
  return machine;
}

EarlierMachine NineServerOfProductThree() {
  EarlierMachine machine;
  machine.reg =
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor Velmora\\CurrentVersion]\r\n"
      "\"ServicePath\"=\"C:\\\\Program Files\\\\Velmora\\\\Server\\\\Skdnt.exe\"\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Program Files\\\\Velmora\\\\Server\\\\\"\r\n"
      "\"GuiPath\"=\"C:\\\\Program Files\\\\Velmora\\\\Console\\\\\"\r\n"
      "\"ProdSubType\"=dword:00000003\r\n"
      "\"Products\"=dword:00000004\r\n"
      "\"BuildNumber\"=dword:0000000a\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
      "\"C:\\\\Program Files\\\\Velmora\\\\Server\\\\Skdnt.exe\"=dword:00000001\r\n"
      "\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"=dword:00000001\r\n"
      "\"C:\\\\Program Files\\\\Velmora\\\\Console\\\\Skdwin.exe\"=dword:00000001\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Parameters]\r\n"
      "\"IRPstackSize\"=dword:00000010\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SKDDriver]\r\n"
      "\"Type\"=dword:00000002\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz("%SystemRoot%\\system32\\drivers\\skdnt.sys") +
      "\r\n"
      "\"DisplayName\"=\"OV Velmora Driver\"\r\n"
      "\"Group\"=\"Filter\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz("\"C:\\Program Files\\Velmora\\Server\\Skdnt.exe\"") + "\r\n";
  machine.files.emplace_back(std::string(kNineServer) + "Skdnt.exe", vrintest::VersionedDll({9, 0, 10, 0}));
  machine.files.emplace_back(std::string(kNineServer) + "skdnt.cfg", "[General]\r\n");
  machine.files.emplace_back(kDriverFile, vrintest::VersionedDll({9, 0, 10, 0}));
  machine.files.emplace_back(std::string(kNineConsole) + "Skdwin.exe", vrintest::VersionedDll({9, 0, 10, 0}));
  return machine;
}

void Seed(const EarlierMachine& machine) {
  Seed(machine.reg);
  for (const auto& [path, contents] : machine.files) host::Files().AddFile(path, contents);
}

void SeedPreviousGeneration() {
  Seed(PreviousGeneration());
  host::Shares::Instance().Seed(host::ShareRecord::Disk(kShareName, kOldServer, "OV VRIN"));
}

void SeedNineServerOfProductThree() {
  Seed(NineServerOfProductThree());
  host::Shares::Instance().Seed(host::ShareRecord::Disk(kShareName, "C:\\Program Files\\Velmora\\Server"));
}

void SeedEightServerOfProductOne() {
  Seed(
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\OV VRIN\\CurrentVersion]\r\n"
      "\"ServicePath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"\r\n"
      "\"ConfigurationPath\"=\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\"\r\n"
      "\"Products\"=dword:00000001\r\n"
      "\"DriverPath\"=\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls]\r\n"
      "\"C:\\\\Program Files\\\\Orvannic\\\\OV VRIN\\\\Server\\\\skdnt.exe\"=dword:00000001\r\n"
      "\"C:\\\\WINDOWS\\\\system32\\\\drivers\\\\skdnt.sys\"=dword:00000001\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Skelda]\r\n"
      "\"Type\"=dword:00000010\r\n"
      "\"Start\"=dword:00000002\r\n"
      "\"ErrorControl\"=dword:00000001\r\n"
      "\"ImagePath\"=" +
      ExpandSz(kOldServerImage) + "\r\n");
  host::Files().AddFile(kOldServerImage, vrintest::VersionedDll({8, 1, 0, 77}));
  host::Files().AddFile(std::string(kOldServer) + "\\skdnt60.cli", "old");
  host::Files().AddFile(kDriverFile, "old driver");
}

void SeedStoredSubType() {
  Seed(
      "[HKEY_LOCAL_MACHINE\\Software\\Orvannic\\Lumicor "
      "Velmora\\CurrentVersion]\r\n\"ProdSubType\"=dword:00000005\r\n");
}

void SeedRunTimeFiles() {
  host::Files().AddFile(std::string(kRunningServer) + "\\skdnt.cfg", "[General]\r\nLogfileDirectory=\r\n");
  host::Files().AddFile(std::string(kRunningServer) + "\\skdnt.dat", "state");
  host::Files().AddFile(std::string(kRunningServer) + "\\backup.cfg", "[Backup]\r\n");
  host::Files().AddFile(std::string(kRunningServer) + "\\Logs\\skdnt.log", "started");
  host::Files().AddFile("C:\\WINDOWS\\skdwin.ini", "[SKDInformation]\r\n");
  host::Files().AddFile(Programs() + "\\Velmora\\Velmora Console.lnk", "link");
}

}  // namespace vrinroad
