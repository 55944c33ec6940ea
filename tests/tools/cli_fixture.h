// Runs the built nametree program as a user would, in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nametree::test {

struct RunResult {
  int exit = -1;
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with `input` on stdin; `out` names where stdout goes
  // (its own file when empty).
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& out = "") const;
  // The path of `name` inside the scratch directory.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Bytes(const std::string& name) const;
  void WriteFile(const std::string& name, const std::string& bytes) const;

 private:
  std::string dir_;
};

}  // namespace nametree::test
