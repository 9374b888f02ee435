#include "platform/program_paths.h"

#include <filesystem>
#include <system_error>

#ifndef SQ_PLUGIN_RELDIR
#define SQ_PLUGIN_RELDIR "../lib/stereoquill/plugins"
#endif
#ifndef SQ_LIBRARY_RELDIR
#define SQ_LIBRARY_RELDIR "../lib/stereoquill"
#endif

namespace sq {

namespace fs = std::filesystem;

std::string ProgramPath() {
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  if (path.empty()) return ".";
  return fs::path(path).parent_path().string();
}

namespace {

std::string FirstFolder(std::initializer_list<fs::path> candidates, const std::string& fallback) {
  std::error_code error;
  for (const fs::path& candidate : candidates)
    if (fs::is_directory(candidate, error)) return fs::weakly_canonical(candidate, error).string();
  return fallback;
}

}  // namespace

std::string DefaultPluginDirectory() {
  const fs::path here = ProgramDirectory();
  return FirstFolder({here / "plugins", here / SQ_PLUGIN_RELDIR}, here.string());
}

std::string ProgramLibraryDirectory() {
  const fs::path here = ProgramDirectory();
  return FirstFolder({here / SQ_LIBRARY_RELDIR}, here.string());
}

}  // namespace sq
