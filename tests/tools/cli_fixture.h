// Runs the built nametree program as a user would, in a scratch directory,
// and checks tables of runs against copies of one base document.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nametree::test {

struct RunResult {
  int exit = -1;
  std::string out, err;
};

struct Case {
  std::vector<std::string> args;  // "DOC" stands for the copy, "FILE:x" for x in the scratch directory
  std::string input;              // standard input
  int exit;
  std::vector<std::string> out{}, err{};  // fragments each stream must hold
  bool unchanged = true;                  // the copy keeps its bytes
  std::vector<std::string> after{};       // fragments of `tree DOC --json` once the run is done
};

// Every one of `parts` occurs in `text`.
void ExpectHolds(const std::string& text, const std::vector<std::string>& parts);

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the program with `input` on stdin; `out` names where stdout goes
  // (its own file when empty).
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& out = "") const;
  // Runs each case on a fresh copy of the scratch file `base`.
  void Expect(const std::vector<Case>& cases, const std::string& base) const;
  // The path of `name` inside the scratch directory.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Bytes(const std::string& name) const;
  void WriteFile(const std::string& name, const std::string& bytes) const;

 private:
  std::string dir_;
};

}  // namespace nametree::test
