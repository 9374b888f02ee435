// Self
#include "platform/program_setup.h"

namespace sq {

TProgramSetup::TProgramSetup(std::string keyName, TRegistryHiveKind hive)
    : keyName_(std::move(keyName)), hive_(RegistryHive(hive)) {
  hive_.CreateKey(keyName_);
}

std::string TProgramSetup::ReadString(const std::string& name, const std::string& defaultValue) const {
  const auto value = hive_.Value(keyName_, name);
  if (const auto* text = value ? std::get_if<std::string>(&*value) : nullptr) return *text;
  return defaultValue;
}

int TProgramSetup::ReadInteger(const std::string& name, int defaultValue) const {
  const auto value = hive_.Value(keyName_, name);
  if (const auto* number = value ? std::get_if<int32_t>(&*value) : nullptr) return *number;
  return defaultValue;
}

bool TProgramSetup::ReadBool(const std::string& name, bool defaultValue) const {
  return ReadInteger(name, defaultValue ? 1 : 0) != 0;
}

void TProgramSetup::WriteString(const std::string& name, const std::string& value) {
  hive_.SetString(keyName_, name, value);
}

void TProgramSetup::WriteInteger(const std::string& name, int value) { hive_.SetInteger(keyName_, name, value); }

void TProgramSetup::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

namespace {
std::unique_ptr<TProgramSetup>& Instance() {
  static std::unique_ptr<TProgramSetup> instance;
  return instance;
}
}  // namespace

TProgramSetup& CreateProgramSetup(const std::string& keyName) {
  Instance() = std::make_unique<TProgramSetup>(keyName);
  return *Instance();
}

TProgramSetup& ProgramSetup() {
  if (!Instance()) CreateProgramSetup();
  return *Instance();
}

void FreeProgramSetup() { Instance().reset(); }

}  // namespace sq
