// A scratch directory per test, and quoting for commands that name files in
// it, shared by the tests that work on real files.
#pragma once

#include <string>
#include <vector>

namespace nametree::test {

// Made empty, removed with whatever it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const;  // directory entries, sorted

 private:
  std::string path_;
};

// `text` as one single-quoted shell word.
std::string ShellQuote(const std::string& text);

}  // namespace nametree::test
