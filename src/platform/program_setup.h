// TProgramSetup: the program's settings under one registry key of the current user
// ("Software\Tavirel\Kestrovane"), created when missing.  Values are typed: a value
// stored with another type than the one asked for counts as missing, so a damaged or
// hand-edited setting falls back to the caller's default instead of a wrong value.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace sq {

class TProgramSetup {
 public:
  explicit TProgramSetup(std::string keyName, TRegistryHiveKind hive = TRegistryHiveKind::CurrentUser);

  const std::string& KeyName() const { return keyName_; }

  std::string ReadString(const std::string& name, const std::string& defaultValue) const;
  int ReadInteger(const std::string& name, int defaultValue) const;
  // Booleans are stored as integers; any non-zero integer reads as true.
  bool ReadBool(const std::string& name, bool defaultValue) const;

  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int value);
  void WriteBool(const std::string& name, bool value);

 private:
  std::string keyName_;
  TRegistryHive& hive_;
};

// The program's own key.
inline constexpr const char* kProgramKey = "Software\\Tavirel\\Kestrovane";
// The sibling image program's key, read once at start-up for its folder.
inline constexpr const char* kSiblingProgramKey = "Software\\Tavirel\\Halvorix";

// The process-wide store for the program's own key: created at start-up (creating it
// again replaces the old one), freed at exit.  ProgramSetup() creates it on first use.
TProgramSetup& CreateProgramSetup(const std::string& keyName = kProgramKey);
TProgramSetup& ProgramSetup();
void FreeProgramSetup();

}  // namespace sq
