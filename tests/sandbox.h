// A test fixture for process-level tests: a fresh sandbox directory holding the working
// directory "work" in which impx runs, so that anything created beside "work" is seen too.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/book_writer.h"
#include "tests/process.h"

// A tree by relative path: a file's bytes, or "<dir>" for a directory.
using Files = std::map<std::string, std::string>;

// Bytes from a book that name no entry impx may create, and how its message shows them.
using Refusal = std::pair<std::string, std::string>;

class Sandbox : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes `bytes` to `path` below "work" (with '/' between directories), making directories.
  void put(const std::string& path, const std::string& bytes);
  // Runs impx in "work". Paths in `args` are written with '/' and given in the target's form.
  Outcome impx(const std::vector<std::string>& args, const std::string& input = "",
               const Limits& limits = {});
  // Runs impx with `args` while another thread writes `bytes` into the named pipe `fifo` (below
  // "work"), made for the run: the first `pause_at` bytes, then `at_pause()`, then the rest. The
  // pipe opens once impx opens it, so `at_pause` always runs after that.
  Outcome impx_reading_pipe(
      const std::vector<std::string>& args, const std::string& fifo, const std::string& bytes,
      std::size_t pause_at = 0, const std::function<void()>& at_pause = [] {});
  // The sandbox's whole tree, by path below the sandbox ("work/a.imp", ...).
  std::map<std::string, std::string> everything() const;
  // The tree below "work/<directory>".
  std::map<std::string, std::string> output(const std::string& directory) const;

  // Runs impx on a book of each name and expects the name refused before anything is created.
  void expect_book_names_refused(const std::vector<Refusal>& names);
  // Runs impx on a book whose second resource has each type code and expects the code refused,
  // with only RSRC.INF and the first resource's file created.
  void expect_type_codes_refused(const std::vector<Refusal>& types);

  // A path in the form the target takes: on Windows with backslashes, "/..." on drive Z:.
  static std::string target_path(const std::string& path);
  static const char* const kPrompt;

  std::string sandbox;
  std::string work;
};
