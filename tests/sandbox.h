// A test fixture for process-level tests: a fresh sandbox directory holding the working
// directory "work" in which impx runs, so that anything created beside "work" is seen too.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/book_writer.h"
#include "tests/process.h"

// A tree by relative path: a file's bytes, or "<dir>" for a directory.
using Files = std::map<std::string, std::string>;

class Sandbox : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes `bytes` to `path` below "work" (with '/' between directories), making directories.
  void put(const std::string& path, const std::string& bytes);
  // Runs impx in "work". Paths in `args` are written with '/' and given in the target's form.
  Outcome impx(const std::vector<std::string>& args, const std::string& input = "",
               const Limits& limits = {});
  // The sandbox's whole tree, by path below the sandbox ("work/a.imp", ...).
  std::map<std::string, std::string> everything() const;
  // The tree below "work/<directory>".
  std::map<std::string, std::string> output(const std::string& directory) const;

  // A path in the form the target takes: on Windows with backslashes, "/..." on drive Z:.
  static std::string target_path(const std::string& path);
  static const char* const kPrompt;

  std::string sandbox;
  std::string work;
};
