// Which routines an exception left on its way to the handler that caught it.
// The stack is read where the exception is thrown and again where it is
// caught; the frames of the first that are gone from the second belong to
// the routines it left. The program's own symbol table names them, so a
// static routine and the split-off cold part of one are named too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrinroad {

struct StackFrame {
  uintptr_t ip = 0;   // where the frame is (a return address for a caller)
  uintptr_t cfa = 0;  // the frame's canonical address: the caller's stack pointer at the call
};

// The frames of the calling thread, innermost first.
std::vector<StackFrame> CurrentStack();

// The routines of the frames, innermost first (none for a frame outside
// the program's symbols).
std::vector<std::string> Routines(const std::vector<StackFrame>& frames);

// The routines of the frames of thrown that are not in caught, innermost
// first: names without namespace parts, parameters or clone suffixes
// ("InstallDeleteFile", "VrinNTStartVrin").
std::vector<std::string> RoutinesLeft(const std::vector<StackFrame>& thrown, const std::vector<StackFrame>& caught);

// Reads the program's symbols now: replays forked afterwards share them.
void LoadRoutineNames();

}  // namespace vrinroad
