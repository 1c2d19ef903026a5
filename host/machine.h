// The simulated machine as a whole, reset between tests.
#pragma once

namespace host {

// A fresh machine: empty registry, no open keys, code page 1252, no faults,
// and a fresh installer.
void ResetMachine();

}  // namespace host
