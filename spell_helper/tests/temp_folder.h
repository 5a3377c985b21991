#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace spell_helper::testing {

// A private folder for one test's files, removed afterwards.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag)
      : path_(std::filesystem::temp_directory_path() / (tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }

  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
    return file(name);
  }
  static bool exists(const std::string& path) { return std::filesystem::exists(path); }
  static std::string read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

 private:
  std::filesystem::path path_;
};

}  // namespace spell_helper::testing
