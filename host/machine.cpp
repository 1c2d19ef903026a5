#include "host/machine.h"

#include "host/clock.h"
#include "host/code_page.h"
#include "host/filesystem.h"
#include "host/network.h"
#include "host/registry.h"
#include "host/security.h"
#include "host/services.h"
#include "host/session.h"
#include "host/shares.h"
#include "host/shell.h"
#include "host/shell_folders.h"
#include "host/system.h"
#include "host/user_interface.h"

namespace host {

void ResetMachine() {
  ResetInstaller();
  CloseAllRegistryKeys();
  LocalRegistry().Clear();
  SetAnsiCodePage(1252);
  FileSystem::Instance().Reset();
  Shell::Instance().Reset();
  ShellFolders::Instance().Reset();
  SystemInfo::Instance().Reset();
  Modules::Instance().Reset();
  Security::Instance().Reset();
  Shares::Instance().Reset();
  ServiceManager::Instance().Reset();
  Clock::Instance().Reset();
  Network::Instance().Reset();
  InstalledProducts::Instance().Reset();
  UserInterface::Instance().Reset();
  Windows::Instance().Reset();
  NetworkProviders::Instance().Reset();
}

void RestartMachine() {
  FileSystem::Instance().Restart();
  ServiceManager::Instance().Restart();
}

}  // namespace host
