// A short demonstration of the library on the simulated installer: two
// actions run in a session, one refuses a missing session, and the
// installation log they leave is printed.
#include <cstdio>
#include <iostream>
#include <string>

#include "host/package.h"
#include "host/session.h"
#include "setup/readme.h"

namespace {

void RunAction(host::Session& session, const char* name, UINT (*action)(MSIHANDLE), MSIHANDLE handle) {
  session.AppendLog(INSTALLMESSAGE_ACTIONSTART, std::string("Action start: ") + name + ".");
  UINT result = action(handle);
  session.AppendLog(INSTALLMESSAGE_ACTIONSTART,
                    std::string("Action ended: ") + name + ". Return value " + (result == 0 ? "1" : "3") + ".");
}

}  // namespace

int main() {
  auto package = host::Package::FromSql({
      "CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)",
      "INSERT INTO `Error` (`Error`, `Message`) VALUES (4, 'Info [1]. ')",
  });
  auto session = host::Session::Open(package);
  session->SetProperty("ARPREADME", "readme.txt");

  std::cout << "--- standard output of the actions ---" << std::endl;
  RunAction(*session, "VrinNameReadMe", VrinNameReadMe, session->Handle());
  RunAction(*session, "VrinSetARPReadMe", VrinSetARPReadMe, session->Handle());
  // The installer never passes a null session; an action refuses one and reports it.
  RunAction(*session, "VrinSetARPReadMe", VrinSetARPReadMe, 0);
  std::fflush(stdout);

  std::cout << "\n--- installation log ---" << std::endl;
  for (const host::LogEntry& entry : session->Log()) std::cout << entry.text << std::endl;
  std::cout << "\n--- properties left set ---" << std::endl;
  for (const auto& [name, value] : session->Properties()) std::cout << name << " = " << value << std::endl;
  if (session->Properties().empty()) std::cout << "(none: ARPREADME was removed)" << std::endl;
  session->Close();
  return 0;
}
