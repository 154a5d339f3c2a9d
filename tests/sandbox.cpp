#include "tests/sandbox.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

void Sandbox::SetUp() {
  sandbox = make_temp_directory(base);
  work = sandbox + "/work";
  fs::create_directory(work);
}

void Sandbox::TearDown() {
  discard(sandbox);
}

void Sandbox::reset() {
  discard(sandbox);
  // The same sandbox again where it was removed; a fresh one beside it where it is kept.
  if (fs::exists(sandbox))
    Sandbox::SetUp();
  else
    fs::create_directories(work);
}

void Sandbox::put(const std::string& path, const std::string& bytes) {
  const fs::path full = fs::path(work) / path;
  fs::create_directories(full.parent_path());
  write_file(full.string(), bytes);
}

std::vector<std::string> Sandbox::target_paths(std::vector<std::string> paths) {
  if (!windows_target()) return paths;
  for (std::string& path : paths) {
    if (path.rfind('/', 0) == 0) path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
  }
  return paths;
}

Outcome Sandbox::impx(const std::vector<std::string>& args, const std::string& input,
                      const Limits& limits, const std::string& start, const std::string& program) {
  return run_impx(args, work + "/" + start, input, limits, program);
}

Outcome Sandbox::impx_held(const std::vector<std::string>& args, const std::string& call,
                           const std::string& path, const std::function<void()>& at_hold,
                           int input_terminal) {
  return run_held(args, work, call, path.empty() ? "" : work + "/" + path, at_hold, input_terminal);
}

RowRun book_run(const std::string& bytes, const std::string& message, const Files& added) {
  return {{{"a.imp", bytes}}, {"a.imp"}, message, added};
}

void add_refusals(std::vector<Row>& rows, const std::string& name,
                  const std::vector<Refusal>& book_names, const std::vector<Refusal>& type_codes,
                  Only only) {
  for (std::size_t i = 0; i < book_names.size(); ++i) {
    const auto& [bytes, shown] = book_names[i];
    rows.push_back({name + "BookName" + std::to_string(i),
                    book_run(make_book(book_named(bytes)), refused_book_name(shown), {}), only});
  }
  for (std::size_t i = 0; i < type_codes.size(); ++i) {
    const auto& [bytes, shown] = type_codes[i];
    const TestBook book = book_named("Novel", {{"GOOD", "kept"}, {bytes, "evil"}});
    rows.push_back({name + "TypeCode" + std::to_string(i),
                    book_run(make_book(book),
                             "Refusing resource type \"" + shown +
                                 "\": it must name one file in the book's directory\n",
                             unpacked("Novel", book, Files{{"GOOD", "kept"}})),
                    only});
  }
}

Files unpacked(const std::string& directory, const TestBook& book,
               const std::optional<Files>& resources) {
  const ExpectedOutput output = expected_output(make_book(book));
  Files files{{directory, "<dir>"}, {directory + "/" + layout::kInfoFileName, *output.info}};
  for (const auto& [name, bytes] :
       resources.value_or(Files(output.last.begin(), output.last.end()))) {
    files[directory + "/" + name] = bytes;
  }
  return files;
}

Files operator+(Files files, const Files& more) {
  files.insert(more.begin(), more.end());
  return files;
}
