#include "support/scratch.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

namespace nametree::test {

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "nametree-test-XXXXXX").string()) {
  if (!::mkdtemp(path_.data())) ADD_FAILURE() << "mkdtemp failed";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ShellQuote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace nametree::test
