#include "tests/sandbox.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

const char* const Sandbox::kPrompt = "Press any key to continue...\n";

void Sandbox::SetUp() {
  sandbox = make_temp_directory();
  work = sandbox + "/work";
  fs::create_directory(work);
}

void Sandbox::TearDown() {
  remove_tree(sandbox);
}

void Sandbox::put(const std::string& path, const std::string& bytes) {
  const fs::path full = fs::path(work) / path;
  fs::create_directories(full.parent_path());
  write_file(full.string(), bytes);
}

std::string Sandbox::target_path(const std::string& path) {
  if (!windows_target()) return path;
  std::string converted = path[0] == '/' ? "Z:" + path : path;
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

Outcome Sandbox::impx(const std::vector<std::string>& args, const std::string& input,
                      const Limits& limits) {
  std::vector<std::string> converted;
  for (const std::string& arg : args) converted.push_back(target_path(arg));
  return run_impx(converted, work, input, limits);
}

Outcome Sandbox::impx_reading_pipe(const std::vector<std::string>& args, const std::string& fifo,
                                   const std::string& bytes, std::size_t pause_at,
                                   const std::function<void()>& at_pause) {
  const std::string path = work + "/" + fifo;
  if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  std::thread writer([&] {
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, pause_at, stream);
    std::fflush(stream);
    at_pause();
    std::fwrite(bytes.data() + pause_at, 1, bytes.size() - pause_at, stream);
    std::fclose(stream);
  });
  const Outcome run = impx(args);
  writer.join();
  return run;
}

std::map<std::string, std::string> Sandbox::everything() const {
  return tree(sandbox);
}

std::map<std::string, std::string> Sandbox::output(const std::string& directory) const {
  return tree(work + "/" + directory);
}

void Sandbox::expect_book_names_refused(const std::vector<Refusal>& names) {
  for (const auto& [name, shown] : names) {
    put("a.imp", make_book(book_named(name)));
    const Files before = everything();
    const Outcome run = impx({"a.imp"});
    EXPECT_EQ(run.status, 255) << shown;
    EXPECT_EQ(run.err,
              "Refusing book name \"" + shown + "\": it must name one new directory\n" + kPrompt);
    EXPECT_EQ(everything(), before) << shown;
  }
}

void Sandbox::expect_type_codes_refused(const std::vector<Refusal>& types) {
  for (const auto& [type, shown] : types) {
    const TestBook book = book_named("Novel", {{"GOOD", "kept"}, {type, "evil"}});
    put("a.imp", make_book(book));
    Files expected = everything();
    const Outcome run = impx({"a.imp"});
    EXPECT_EQ(run.status, 255) << shown;
    EXPECT_EQ(run.err, "Refusing resource type \"" + shown +
                           "\": it must name one file in the book's directory\n" + kPrompt);
    expected["work/Novel"] = "<dir>";
    expected["work/Novel/RSRC.INF"] = expected_info_file(book);
    expected["work/Novel/GOOD"] = "kept";
    EXPECT_EQ(everything(), expected) << shown;
    remove_tree(work + "/Novel");
  }
}
