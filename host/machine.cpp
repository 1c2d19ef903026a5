#include "host/machine.h"

#include "host/code_page.h"
#include "host/registry.h"
#include "host/session.h"

namespace host {

void ResetMachine() {
  ResetInstaller();
  CloseAllRegistryKeys();
  LocalRegistry().Clear();
  SetAnsiCodePage(1252);
}

}  // namespace host
