// The simulated machine as a whole, reset between tests.
#pragma once

namespace host {

// A fresh machine: empty registry, no open keys, code page 1252, no faults,
// a fresh installer, no service handles or states, the clock at its start.
void ResetMachine();

// The machine's restart: the file system's pending deletions and renames are
// applied, service entries marked for deletion go and the other services
// stop; no service is started again and the clock runs on.
void RestartMachine();

}  // namespace host
