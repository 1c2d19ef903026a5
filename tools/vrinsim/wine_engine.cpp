// The Wine engine is not part of this build: every machine is told it
// cannot run it, and asking for it anyway is an error.
#include <stdexcept>

#include "tools/vrinsim/engine.h"

namespace vrinsim {

std::string WineCannotRun(const std::string&) { return "the Wine engine is not built into this vrinsim"; }

std::unique_ptr<Engine> WineEngine(const std::string&) { throw std::runtime_error("the Wine engine is not built"); }

}  // namespace vrinsim
