#include "host/system_messages.h"

#include <map>

namespace host {

std::optional<std::string> SystemMessageText(uint32_t id) {
  static const std::map<uint32_t, const char*> kTexts = {
      {0, "The operation completed successfully."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {13, "The data is invalid."},
      {14, "Not enough memory resources are available to complete this operation."},
      {18, "There are no more files."},
      {32, "The process cannot access the file because it is being used by another process."},
      {53, "The network path was not found."},
      {87, "The parameter is incorrect."},
      {120, "This function is not supported on this system."},
      {122, "The data area passed to a system call is too small."},
      {126, "The specified module could not be found."},
      {127, "The specified procedure could not be found."},
      {145, "The directory is not empty."},
      {160, "One or more arguments are not correct."},
      {161, "The specified path is invalid."},
      {183, "Cannot create a file when that file already exists."},
      {206, "The filename or extension is too long."},
      {234, "More data is available."},
      {259, "No more data is available."},
      {267, "The directory name is invalid."},
      {1009, "The configuration registry database is corrupt."},
      {1010, "The configuration registry key is invalid."},
      {1011, "The configuration registry key could not be opened."},
      {1012, "The configuration registry key could not be read."},
      {1013, "The configuration registry key could not be written."},
      {1053, "The service did not respond to the start or control request in a timely fashion."},
      {1056, "An instance of the service is already running."},
      {1058,
       "The service cannot be started, either because it is disabled or because it has no enabled devices associated "
       "with it."},
      {1060, "The specified service does not exist as an installed service."},
      {1062, "The service has not been started."},
      {1072, "The specified service has been marked for deletion."},
      {1073, "The specified service already exists."},
      {1078, "The name is already in use as either a service name or a service display name."},
      {1114, "A dynamic link library (DLL) initialization routine failed."},
      {1332, "No mapping between account names and security IDs was done."},
      {1602, "User cancelled installation."},
      {1603, "Fatal error during installation."},
      {1609, "Handle is in an invalid state."},
      {1615, "SQL query syntax invalid or unsupported."},
      {1616, "Record field does not exist."},
      {1627, "Function failed during execution."},
      {1813, "The specified resource type cannot be found in the image file."},
      {1814, "The specified resource name cannot be found in the image file."},
      {1815, "The specified resource language ID cannot be found in the image file."},
  };
  auto it = kTexts.find(id);
  if (it == kTexts.end()) return std::nullopt;
  return std::string(it->second) + "\r\n";
}

}  // namespace host
