#include "host/machine.h"

#include "host/code_page.h"
#include "host/filesystem.h"
#include "host/registry.h"
#include "host/session.h"
#include "host/shell.h"

namespace host {

void ResetMachine() {
  ResetInstaller();
  CloseAllRegistryKeys();
  LocalRegistry().Clear();
  SetAnsiCodePage(1252);
  FileSystem::Instance().Reset();
  Shell::Instance().Reset();
}

}  // namespace host
