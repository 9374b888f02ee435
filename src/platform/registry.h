// The settings registry: a tree of keys ("Software\Tavirel\Kestrovane") holding typed
// values (strings and 32-bit integers), in two hives: the current user's settings and
// the classes root that file-type association uses.  Each hive is kept as a small
// REGEDIT4-style text file under $XDG_CONFIG_HOME/stereoquill/ and rewritten
// atomically after every change, so a crash never leaves a half-written file.
//
// Key paths use "\" (a "/" is accepted too) and compare without regard to case, as
// value names do.  Reading a file from outside is safe: lines that do not parse are
// skipped, and files above kMaxRegistryFileBytes are refused.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sq {

enum class TRegistryHiveKind { CurrentUser, ClassesRoot };

enum class TRegistryValueType { None, String, Integer };

using TRegistryValue = std::variant<std::string, int32_t>;

constexpr int64_t kMaxRegistryFileBytes = 16 << 20;

class TRegistryHive {
 public:
  // rootName is the name files show before each key: "HKEY_CURRENT_USER".
  TRegistryHive(std::string fileName, std::string rootName);

  const std::string& FileName() const { return fileName_; }
  const std::string& RootName() const { return rootName_; }

  bool KeyExists(std::string_view key) const;
  void CreateKey(std::string_view key);
  // Removes the key with all its sub-keys and values.
  void DeleteKey(std::string_view key);
  std::vector<std::string> SubKeyNames(std::string_view key) const;
  std::vector<std::string> ValueNames(std::string_view key) const;

  TRegistryValueType ValueType(std::string_view key, std::string_view name) const;
  std::optional<TRegistryValue> Value(std::string_view key, std::string_view name) const;
  // Writing creates the key when it is missing and saves the hive.
  void SetString(std::string_view key, std::string_view name, std::string_view value);
  void SetInteger(std::string_view key, std::string_view name, int32_t value);
  void DeleteValue(std::string_view key, std::string_view name);

  // The whole hive as REGEDIT4 text, and its reverse (which replaces the content).
  std::string ToText() const;
  void FromText(std::string_view text);

  // Reads the file again (a missing file gives an empty hive).
  void Reload();
  // Writes the file atomically; raises EInOutError when the folder cannot be written.
  void Save() const;

 private:
  struct TKey {
    std::string Name;                                                      // as first written
    std::map<std::string, std::pair<std::string, TRegistryValue>> Values;  // by lower-case name
  };
  TKey* FindKey(std::string_view key);
  const TKey* FindKey(std::string_view key) const;
  TKey& ObtainKey(std::string_view key);
  void Changed();

  std::string fileName_;
  std::string rootName_;
  std::map<std::string, TKey> keys_;  // by normalised lower-case path
};

// The folder the hives live in: $XDG_CONFIG_HOME/stereoquill, or ~/.config/stereoquill.
std::string RegistryFolder();

// The process-wide hives, created on first use from RegistryFolder().
TRegistryHive& RegistryHive(TRegistryHiveKind kind);
// Forgets the hives so that the next use reads them again from RegistryFolder()
// (tests point XDG_CONFIG_HOME elsewhere first).
void ResetRegistryHives();

// A key path with "/" turned into "\", runs of separators merged and the ends trimmed.
std::string NormalizeKeyPath(std::string_view key);

}  // namespace sq
