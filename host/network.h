// The simulated machine's place on the network: its own computer name, the
// other machines whose registries RegConnectRegistry reaches, and the
// products Windows Installer has installed on the local machine.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "host/registry.h"

namespace host {

class Network {
 public:
  static Network& Instance();

  // Computer name "VRINHOST", no other machines.
  void Reset();
  void SetComputerName(const std::string& name) { computerName_ = name; }
  const std::string& ComputerName() const { return computerName_; }

  // A machine reachable by name (letter case ignored, leading "\\" allowed),
  // with an empty registry of its own when it is new.
  Registry& AddMachine(const std::string& name);
  void RemoveMachine(const std::string& name);
  // The machine's registry, or null when no such machine answers.
  Registry* MachineRegistry(const std::string& name);

 private:
  static std::string Canonical(const std::string& name);
  std::string computerName_ = "VRINHOST";
  std::map<std::string, std::unique_ptr<Registry>> machines_;  // by upper-case name
};

// Products registered with Windows Installer, as MsiGetProductInfo sees them.
class InstalledProducts {
 public:
  static InstalledProducts& Instance();
  void Reset() { products_.clear(); }
  // Adds the product (its code with braces) or sets one of its properties.
  void Set(const std::string& productCode, const std::string& property, const std::string& value);
  void Remove(const std::string& productCode);
  // Nullptr when the product or the property is unknown.
  const std::string* Property(const std::string& productCode, const std::string& property) const;
  bool Installed(const std::string& productCode) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> products_;  // by upper-case code
};

// Opens a handle on a root key of another machine's registry: path names the
// machine ("\\NAME\HKEY_LOCAL_MACHINE") so that fault rules can target it.
HKEY OpenRegistryRoot(Registry& registry, HKEY root, const std::string& path);

}  // namespace host
