// Self
#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "base/exception.h"
#include "io/file_stream.h"

namespace sq {

namespace {

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string Quote(std::string_view text) {
  std::string result = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        result += "\\\\";
        break;
      case '"':
        result += "\\\"";
        break;
      case '\n':
        result += "\\n";
        break;
      case '\r':
        result += "\\r";
        break;
      default:
        result += c;
    }
  }
  return result + "\"";
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the closing quote.
bool Unquote(std::string_view text, size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < text.size()) {
      c = text[++pos];
      if (c == 'n') c = '\n';
      if (c == 'r') c = '\r';
    }
    out += c;
  }
  return false;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string NormalizeKeyPath(std::string_view key) {
  std::string result;
  for (char c : key) {
    if (c == '/') c = '\\';
    if (c == '\\' && (result.empty() || result.back() == '\\')) continue;
    result += c;
  }
  while (!result.empty() && result.back() == '\\') result.pop_back();
  return result;
}

TRegistryHive::TRegistryHive(std::string fileName, std::string rootName)
    : fileName_(std::move(fileName)), rootName_(std::move(rootName)) {
  Reload();
}

TRegistryHive::TKey* TRegistryHive::FindKey(std::string_view key) {
  auto it = keys_.find(Lower(NormalizeKeyPath(key)));
  return it == keys_.end() ? nullptr : &it->second;
}

const TRegistryHive::TKey* TRegistryHive::FindKey(std::string_view key) const {
  auto it = keys_.find(Lower(NormalizeKeyPath(key)));
  return it == keys_.end() ? nullptr : &it->second;
}

TRegistryHive::TKey& TRegistryHive::ObtainKey(std::string_view key) {
  const std::string path = NormalizeKeyPath(key);
  // Parents exist whenever a child does, as in any registry.
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
    auto& parent = keys_[Lower(path.substr(0, at))];
    if (parent.Name.empty()) parent.Name = path.substr(0, at);
  }
  auto& entry = keys_[Lower(path)];
  if (entry.Name.empty()) entry.Name = path;
  return entry;
}

bool TRegistryHive::KeyExists(std::string_view key) const { return FindKey(key) != nullptr; }

void TRegistryHive::CreateKey(std::string_view key) {
  if (NormalizeKeyPath(key).empty() || KeyExists(key)) return;
  ObtainKey(key);
  Changed();
}

void TRegistryHive::DeleteKey(std::string_view key) {
  const std::string path = Lower(NormalizeKeyPath(key));
  if (path.empty()) return;
  const std::string prefix = path + "\\";
  bool removed = false;
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == path || it->first.starts_with(prefix)) {
      it = keys_.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  if (removed) Changed();
}

std::vector<std::string> TRegistryHive::SubKeyNames(std::string_view key) const {
  const std::string path = Lower(NormalizeKeyPath(key));
  const std::string prefix = path.empty() ? "" : path + "\\";
  std::vector<std::string> names;
  for (const auto& [lower, entry] : keys_) {
    if (!lower.starts_with(prefix) || lower.size() == prefix.size()) continue;
    if (lower.find('\\', prefix.size()) != std::string::npos) continue;
    names.push_back(entry.Name.substr(prefix.size()));
  }
  return names;
}

std::vector<std::string> TRegistryHive::ValueNames(std::string_view key) const {
  std::vector<std::string> names;
  if (const TKey* entry = FindKey(key))
    for (const auto& [lower, value] : entry->Values) names.push_back(value.first);
  return names;
}

TRegistryValueType TRegistryHive::ValueType(std::string_view key, std::string_view name) const {
  const auto value = Value(key, name);
  if (!value) return TRegistryValueType::None;
  return std::holds_alternative<std::string>(*value) ? TRegistryValueType::String : TRegistryValueType::Integer;
}

std::optional<TRegistryValue> TRegistryHive::Value(std::string_view key, std::string_view name) const {
  const TKey* entry = FindKey(key);
  if (!entry) return std::nullopt;
  auto it = entry->Values.find(Lower(name));
  if (it == entry->Values.end()) return std::nullopt;
  return it->second.second;
}

void TRegistryHive::SetString(std::string_view key, std::string_view name, std::string_view value) {
  ObtainKey(key).Values[Lower(name)] = {std::string(name), std::string(value)};
  Changed();
}

void TRegistryHive::SetInteger(std::string_view key, std::string_view name, int32_t value) {
  ObtainKey(key).Values[Lower(name)] = {std::string(name), value};
  Changed();
}

void TRegistryHive::DeleteValue(std::string_view key, std::string_view name) {
  TKey* entry = FindKey(key);
  if (entry && entry->Values.erase(Lower(name)) > 0) Changed();
}

std::string TRegistryHive::ToText() const {
  std::string text = "REGEDIT4\n";
  for (const auto& [lower, entry] : keys_) {
    text += "\n[" + rootName_ + "\\" + entry.Name + "]\n";
    for (const auto& [lowerName, value] : entry.Values) {
      text += value.first.empty() ? std::string("@") : Quote(value.first);
      if (const auto* s = std::get_if<std::string>(&value.second)) {
        text += "=" + Quote(*s) + "\n";
      } else {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<uint32_t>(std::get<int32_t>(value.second)));
        text += std::string("=dword:") + digits + "\n";
      }
    }
  }
  return text;
}

void TRegistryHive::FromText(std::string_view text) {
  keys_.clear();
  const std::string rootPrefix = Lower(rootName_) + "\\";
  TKey* current = nullptr;
  size_t lineStart = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    const std::string_view line = Trim(text.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']') continue;
      const std::string path = NormalizeKeyPath(line.substr(1, line.size() - 2));
      // Keys of another root do not belong in this hive.
      if (!Lower(path).starts_with(rootPrefix)) continue;
      const std::string relative = path.substr(rootPrefix.size());
      if (!relative.empty()) current = &ObtainKey(relative);
      continue;
    }
    if (!current) continue;
    std::string name;
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!Unquote(line, pos, name)) {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') continue;
    const std::string_view data = line.substr(pos + 1);
    if (!data.empty() && data.front() == '"') {
      std::string value;
      size_t at = 0;
      if (Unquote(data, at, value)) current->Values[Lower(name)] = {name, value};
    } else if (data.starts_with("dword:") && data.size() == 14) {
      uint32_t value = 0;
      bool good = true;
      for (char c : data.substr(6)) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0) good = false;
        value = value << 4 | static_cast<uint32_t>(std::max(digit, 0));
      }
      if (good) current->Values[Lower(name)] = {name, static_cast<int32_t>(value)};
    }
  }
}

void TRegistryHive::Reload() {
  keys_.clear();
  std::error_code error;
  const auto size = std::filesystem::file_size(fileName_, error);
  if (error || size > static_cast<uintmax_t>(kMaxRegistryFileBytes)) return;
  std::ifstream file(fileName_, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  FromText(content.str());
}

void TRegistryHive::Save() const {
  const std::filesystem::path folder = std::filesystem::path(fileName_).parent_path();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  TAtomicFileSave save(fileName_);
  const std::string text = ToText();
  save.Stream().Write(text.data(), text.size());
  save.Commit();
}

void TRegistryHive::Changed() { Save(); }

std::string RegistryFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/stereoquill";
}

namespace {
std::unique_ptr<TRegistryHive>& HiveSlot(TRegistryHiveKind kind) {
  static std::unique_ptr<TRegistryHive> user, classes;
  return kind == TRegistryHiveKind::CurrentUser ? user : classes;
}
}  // namespace

TRegistryHive& RegistryHive(TRegistryHiveKind kind) {
  auto& slot = HiveSlot(kind);
  if (!slot) {
    if (kind == TRegistryHiveKind::CurrentUser)
      slot = std::make_unique<TRegistryHive>(RegistryFolder() + "/user.reg", "HKEY_CURRENT_USER");
    else
      slot = std::make_unique<TRegistryHive>(RegistryFolder() + "/classes.reg", "HKEY_CLASSES_ROOT");
  }
  return *slot;
}

void ResetRegistryHives() {
  HiveSlot(TRegistryHiveKind::CurrentUser).reset();
  HiveSlot(TRegistryHiveKind::ClassesRoot).reset();
}

}  // namespace sq
