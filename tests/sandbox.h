// A test fixture for process-level tests: a fresh sandbox directory holding the working
// directory "work" in which impx runs, so that anything created beside "work" is seen too.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/book_writer.h"
#include "tests/files.h"
#include "tests/oracle.h"
#include "tests/process.h"

// A tree by relative path: a file's bytes, or "<dir>" for a directory.
using Files = std::map<std::string, std::string>;

// Bytes from a book that name no entry impx may create, and how its message shows them: as they
// stand where only they are given.
struct Refusal {
  Refusal(const char* same) : bytes(same), shown(same) {}  // NOLINT(google-explicit-constructor)
  Refusal(std::string given, std::string quoted)
      : bytes(std::move(given)), shown(std::move(quoted)) {}
  std::string bytes, shown;
};

class Sandbox : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Gives the next case of a test an empty sandbox with an empty "work".
  void reset();
  // Removes a sandbox that is done with.
  virtual void discard(const std::string& done) { remove_tree(done); }
  // Writes `bytes` to `path` below "work" (with '/' between directories), making directories.
  void put(const std::string& path, const std::string& bytes);
  // Runs impx (or `program`, another copy of it) in "work", or in `start` below it, with `args`
  // as they stand: target_paths gives paths written with '/' in the target's form.
  Outcome impx(const std::vector<std::string>& args, const std::string& input = "",
               const Limits& limits = {}, const std::string& start = "",
               const std::string& program = "");
  // Runs impx in "work" as impx does, held by strace after its first call `call` on `path`
  // (below "work"; "" for any path) while `at_hold` runs (see run_held).
  Outcome impx_held(const std::vector<std::string>& args, const std::string& call,
                    const std::string& path, const std::function<void()>& at_hold,
                    int input_terminal = -1);

  // Paths in the form the target takes: on Windows with backslashes, "/..." on drive Z:.
  static std::vector<std::string> target_paths(std::vector<std::string> paths);

  std::string base;  // where the sandbox is made: the system's temporary directory when ""
  std::string sandbox;
  std::string work;
};

// Where a row runs: anywhere, or only where the behaviour it holds is that platform's.
enum class Only { anywhere, posix, windows };

// One run of impx: the files put below "work" (paths with '/'), the arguments ("{work}" stands for
// the work directory's absolute path), and how it ends.
struct RowRun {
  Files put;  // a file's bytes, or "<dir>"
  std::vector<std::string> args;
  std::string message;  // on standard error before the prompt and status -1; "" for success
  Files added;          // what the run adds below "work": nothing else is changed
  std::string start;    // where the run starts, below "work"
  Limits limits = {};   // what the run is held to
};
// A run that unpacks the one book "a.imp", which holds `bytes`.
RowRun book_run(const std::string& bytes, const std::string& message, const Files& added);

// A table row, run in a sandbox of its own. A run whose books are large is made by `make` when
// the row's test runs, so that no test builds them for every other row first.
struct Row {
  std::string name;  // the test's name, as CTest shows it
  RowRun run;
  Only only = Only::anywhere;
  std::function<RowRun()> make = nullptr;
};

// The rows' fixture; each test file instantiates it with its table, named after its suite.
class Rows : public Sandbox, public testing::WithParamInterface<Row> {};
// A table row or a file system, by its name: as CTest lists it, and as a failure shows it.
template <typename Param>
std::string row_name(const testing::TestParamInfo<Param>& info) {
  return info.param.name;
}
template <typename Param, typename = decltype(Param::name)>
std::ostream& operator<<(std::ostream& out, const Param& param) {
  return out << param.name;
}
// Adds rows, named after `name`, that refuse each book name before anything is created, and each
// type code of a second resource after the first one's file.
void add_refusals(std::vector<Row>& rows, const std::string& name,
                  const std::vector<Refusal>& book_names, const std::vector<Refusal>& type_codes,
                  Only only = Only::anywhere);

// The tree that a whole run leaves for `book` in `directory` (below "work"): "RSRC.INF" and each
// name's last record, or only the `resources` given, by name.
Files unpacked(const std::string& directory, const TestBook& book,
               const std::optional<Files>& resources = std::nullopt);
Files operator+(Files files, const Files& more);
