// A fresh folder under the system's temporary folder for one test, removed with
// everything in it when the test ends; and reading a whole file back.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sq::test {

struct TTempDir {
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sqtestXXXXXX").string();
    if (mkdtemp(pattern.data())) Path = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::string operator/(const std::string& name) const { return (std::filesystem::path(Path) / name).string(); }

  std::string Path;
};

inline std::vector<uint8_t> ReadBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace sq::test
