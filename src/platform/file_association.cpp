#include "platform/file_association.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "base/exception.h"
#include "base/format.h"
#include "platform/program_paths.h"
#include "platform/registry.h"

extern char** environ;

namespace sq {

namespace fs = std::filesystem;

namespace {

std::string NormalizeExtension(const std::string& extension) {
  std::string ext = LowerCase(extension);
  if (ext.empty() || ext[0] != '.') ext.insert(0, ".");
  return ext;
}

std::string RemoveBlanks(const std::string& text) {
  std::string result;
  for (const char c : text)
    if (c != ' ') result += c;
  return result;
}

bool IsIconType(const std::string& ext) { return ext == ".ico" || ext == ".cur" || ext == ".ani"; }

TRegistryHive& ClassesRoot() { return RegistryHive(TRegistryHiveKind::ClassesRoot); }

std::string DefaultValue(const std::string& key) {
  const auto value = ClassesRoot().Value(key, "");
  const std::string* text = value ? std::get_if<std::string>(&*value) : nullptr;
  return text ? *text : "";
}

// The desktop entry of the program whose blank-free title this is.
std::string DesktopId(const std::string& title) { return LowerCase(title) + ".desktop"; }

std::string ReadText(const fs::path& file) {
  std::error_code error;
  if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > (1 << 20)) return "";
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces a file only once its new content is complete.
void WriteText(const fs::path& file, const std::string& text) {
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  const fs::path temp = file.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw EInOutError(Format("Error writing \"%s\"", file.string()));
  }
  fs::rename(temp, file, error);
  if (error) throw EInOutError(Format("Error writing \"%s\" - %s", file.string(), error.message()));
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ';'))
    if (!item.empty()) items.push_back(item);
  return items;
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += item + ";";
  return text;
}

// A key-file (mimeapps.list, .desktop) edited line by line, so that groups, keys and
// comments the program does not own stay exactly as they were.
class TKeyFile {
 public:
  explicit TKeyFile(const std::string& text) {
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines_.push_back(line);
  }

  std::string Get(const std::string& group, const std::string& key) const {
    const auto at = Find(group, key);
    return at ? lines_[*at].substr(key.size() + 1) : "";
  }

  // Sets the value; an empty value removes the key.
  void Set(const std::string& group, const std::string& key, const std::string& value) {
    if (const auto at = Find(group, key)) {
      if (value.empty())
        lines_.erase(lines_.begin() + static_cast<ptrdiff_t>(*at));
      else
        lines_[*at] = key + "=" + value;
      return;
    }
    if (value.empty()) return;
    size_t end = lines_.size();
    bool found = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i] == "[" + group + "]") {
        found = true;
        end = i + 1;
        while (end < lines_.size() && !(lines_[end].size() > 0 && lines_[end][0] == '[')) ++end;
        while (end > i + 1 && lines_[end - 1].empty()) --end;
        break;
      }
    }
    if (!found) {
      if (!lines_.empty() && !lines_.back().empty()) lines_.push_back("");
      lines_.push_back("[" + group + "]");
      end = lines_.size();
    }
    lines_.insert(lines_.begin() + static_cast<ptrdiff_t>(end), key + "=" + value);
  }

  std::string Text() const {
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  std::optional<size_t> Find(const std::string& group, const std::string& key) const {
    bool inGroup = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
      const std::string& line = lines_[i];
      if (!line.empty() && line[0] == '[')
        inGroup = line == "[" + group + "]";
      else if (inGroup && line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
        return i;
    }
    return std::nullopt;
  }

  std::vector<std::string> lines_;
};

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// An Exec argument in double quotes, with the characters the desktop entry format
// reserves escaped (and the backslash doubled once more for the key-file layer).
std::string QuoteExecArgument(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '`' || c == '$') out += "\\\\";
    if (c == '\\') out += "\\\\\\";
    if (c == '%') out += "%";
    out += c;
  }
  return out + "\"";
}

// The system's type for "*.ext" from the shared-mime-info databases of the data folders.
std::string SystemMimeType(const std::string& ext) {
  const std::string glob = "*" + ext;
  for (const std::string& dir : TDesktopFolders::FromEnvironment().DataDirs) {
    std::ifstream in(fs::path(dir) / "mime" / "globs2");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      const size_t first = line.find(':');
      const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
      if (second == std::string::npos) continue;
      const size_t third = line.find(':', second + 1);
      const std::string pattern =
          line.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
      if (LowerCase(pattern) == glob) return line.substr(first + 1, second - first - 1);
    }
  }
  return "";
}

std::string OwnMimeType(const std::string& className) {
  std::string type = "application/x-";
  for (const char c : LowerCase(className))
    type += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ? c : '-';
  return type;
}

fs::path PackageFile(const TDesktopFolders& folders, const std::string& title, const std::string& ext) {
  return fs::path(folders.DataHome) / "mime" / "packages" / (LowerCase(title) + "-" + ext.substr(1) + ".xml");
}

// Runs a tool with its arguments, quietly; a missing tool is no error (the desktop
// then picks the change up on its next start).
void RunTool(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}

void NotifyDesktop(const TDesktopFolders& folders) {
  std::error_code error;
  const fs::path mime = fs::path(folders.DataHome) / "mime";
  if (fs::is_directory(mime / "packages", error)) RunTool({"update-mime-database", mime.string()});
  const fs::path applications = fs::path(folders.DataHome) / "applications";
  if (fs::is_directory(applications, error)) RunTool({"update-desktop-database", "-q", applications.string()});
}

// Adds (or removes) the type to the program's desktop entry and its default-opener lines.
void RegisterWithDesktop(const std::string& title, const std::string& displayTitle, const std::string& type,
                         const std::string& programPath, bool add) {
  const TDesktopFolders folders = TDesktopFolders::FromEnvironment();
  const std::string id = DesktopId(title);
  const fs::path entryFile = fs::path(folders.DataHome) / "applications" / id;
  TKeyFile entry(ReadText(entryFile));
  std::vector<std::string> types = SplitList(entry.Get("Desktop Entry", "MimeType"));
  types.erase(std::remove(types.begin(), types.end(), type), types.end());
  if (add) types.push_back(type);
  if (add || fs::exists(entryFile)) {
    entry.Set("Desktop Entry", "Type", "Application");
    entry.Set("Desktop Entry", "Name", displayTitle.empty() ? entry.Get("Desktop Entry", "Name") : displayTitle);
    if (add) entry.Set("Desktop Entry", "Exec", QuoteExecArgument(programPath) + " %f");
    entry.Set("Desktop Entry", "Icon", LowerCase(title));
    entry.Set("Desktop Entry", "Terminal", "false");
    entry.Set("Desktop Entry", "Categories", "Graphics;3DGraphics;");
    entry.Set("Desktop Entry", "MimeType", JoinList(types));
    WriteText(entryFile, entry.Text());
  }

  const fs::path listFile = fs::path(folders.ConfigHome) / "mimeapps.list";
  TKeyFile list(ReadText(listFile));
  for (const char* group : {"Default Applications", "Added Associations"}) {
    std::vector<std::string> apps = SplitList(list.Get(group, type));
    apps.erase(std::remove(apps.begin(), apps.end(), id), apps.end());
    if (add) apps.insert(apps.begin(), id);
    list.Set(group, type, JoinList(apps));
  }
  if (add || fs::exists(listFile)) WriteText(listFile, list.Text());
}

// The program this desktop opens the type with, from mimeapps.list ("" for none).
std::string DesktopDefault(const std::string& type) {
  const TDesktopFolders folders = TDesktopFolders::FromEnvironment();
  const TKeyFile list(ReadText(fs::path(folders.ConfigHome) / "mimeapps.list"));
  const std::vector<std::string> apps = SplitList(list.Get("Default Applications", type));
  return apps.empty() ? "" : apps.front();
}

}  // namespace

TDesktopFolders TDesktopFolders::FromEnvironment() {
  TDesktopFolders folders;
  const char* home = std::getenv("HOME");
  const std::string homeDir = home ? home : "";
  auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  folders.DataHome = variable("XDG_DATA_HOME");
  if (folders.DataHome.empty()) folders.DataHome = homeDir + "/.local/share";
  folders.ConfigHome = variable("XDG_CONFIG_HOME");
  if (folders.ConfigHome.empty()) folders.ConfigHome = homeDir + "/.config";
  std::string dirs = variable("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  std::stringstream in(dirs);
  std::string dir;
  while (std::getline(in, dir, ':'))
    if (!dir.empty()) folders.DataDirs.push_back(dir);
  return folders;
}

std::string AssociationMimeType(const std::string& extension, const std::string& className) {
  const std::string ext = NormalizeExtension(extension);
  const std::string known = SystemMimeType(ext);
  return known.empty() ? OwnMimeType(className) : known;
}

bool IsAssociated(const std::string& extension, const std::string& title) {
  const std::string ext = NormalizeExtension(extension);
  const std::string name = RemoveBlanks(title);
  if (!ClassesRoot().KeyExists(ext)) return false;
  const std::string className = DefaultValue(ext);
  if (LowerCase(className.substr(0, className.find('.'))) != LowerCase(name) || name.empty()) return false;
  // The desktop has the last word: another program may have become the default since.
  return DesktopDefault(AssociationMimeType(ext, className)) == DesktopId(name);
}

void Associate(const std::string& extension, const std::string& title, const std::string& description, int iconIndex,
               const std::string& programPath) {
  const std::string ext = NormalizeExtension(extension);
  const std::string program = programPath.empty() ? ProgramPath() : programPath;
  const std::string name = RemoveBlanks(title);
  const bool iconType = IsIconType(ext);
  if (name.empty() && iconType) return;

  std::string className;
  if (!name.empty()) className = description.empty() && !iconType ? name + "." + std::to_string(iconIndex) : name + ext;
  const std::string oldClass = DefaultValue(ext);

  TRegistryHive& classes = ClassesRoot();
  classes.SetString(ext, "", className);
  if (!className.empty()) {
    classes.SetString(className, "", description);
    if (iconIndex >= 0)
      classes.SetString(className + "\\DefaultIcon", "",
                        iconType ? "\"%1\"" : "\"" + program + "\"," + std::to_string(iconIndex));
    classes.SetString(className + "\\Shell\\Open\\Command", "", "\"" + program + "\" \"%1\"");
  }

  // The desktop side.
  const TDesktopFolders folders = TDesktopFolders::FromEnvironment();
  if (!className.empty()) {
    const std::string type = AssociationMimeType(ext, className);
    if (SystemMimeType(ext).empty()) {
      const std::string comment = description.empty() ? className : description;
      WriteText(PackageFile(folders, name, ext),
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                "  <mime-type type=\"" +
                    XmlEscape(type) +
                    "\">\n"
                    "    <comment>" +
                    XmlEscape(comment) +
                    "</comment>\n"
                    "    <glob pattern=\"*" +
                    XmlEscape(ext) +
                    "\"/>\n"
                    "  </mime-type>\n"
                    "</mime-info>\n");
    }
    RegisterWithDesktop(name, title, type, program, true);
  } else {
    // Removing: only the program that owned the class loses anything.
    const std::string owner = oldClass.substr(0, oldClass.find('.'));
    if (!owner.empty()) {
      const std::string type = AssociationMimeType(ext, oldClass);
      RegisterWithDesktop(owner, "", type, program, false);
      std::error_code error;
      fs::remove(PackageFile(folders, owner, ext), error);
    }
  }
  NotifyDesktop(folders);
}

std::vector<TFormatEntry> ParseFormatFilter(const std::string& filter) {
  std::vector<TFormatEntry> entries;
  std::string rest = filter;
  while (!rest.empty()) {
    const size_t bar = rest.find('|');
    const std::string description = rest.substr(0, bar);
    rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
    const size_t firstPattern = description.find("*.");
    if (firstPattern != std::string::npos) {
      const size_t paren = description.rfind('(', firstPattern);
      const std::string formatName = description.substr(0, paren == std::string::npos ? 0 : paren);
      for (size_t at = firstPattern; at != std::string::npos; at = description.find("*.", at + 2)) {
        const size_t end = description.find_first_of(" ),;", at + 1);
        const std::string ext = description.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        entries.push_back({formatName + "(*" + ext + ")", ext});
      }
    }
    const size_t patternEnd = rest.find('|');
    rest = patternEnd == std::string::npos ? "" : rest.substr(patternEnd + 1);
  }
  return entries;
}

}  // namespace sq
