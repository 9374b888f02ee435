// A fresh folder under the system's temporary folder, removed with its content when
// the test's scope ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace sq::test {

class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sqtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    Path = pattern;
  }
  ~TTempFolder() {
    std::error_code error;
    std::filesystem::remove_all(Path, error);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  // The full name of a file in the folder.
  std::string File(std::string_view name) const { return (Path / name).string(); }

  // Writes bytes to a file in the folder and returns its full name.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string file = File(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

  std::filesystem::path Path;
};

// The whole content of a file ("" when it cannot be read).
inline std::string ReadWholeFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace sq::test
