// Running the built impx as a user would, in a directory of its own, with a standard input that
// is never a terminal.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct Outcome {
  int status;  // the exit status as a POSIX parent sees it; 128 + N after signal N
  std::string err;
  std::string out;
};

// What the run is held to. It starts with every signal at its default disposition.
struct Limits {
  long address_space = 0;                 // bytes; 0 leaves it as it is
  long file_size = 0;                     // bytes; 0 leaves it
  long open_files = 0;                    // descriptors; 0 leaves it
  bool dead_stderr = false;               // standard error is a pipe whose reader has gone
  bool input_from_pipe = false;           // standard input is a pipe holding the input, not a file
  std::vector<std::string> wrapper = {};  // a program, with its options, that starts the run
  int input_terminal = -1;                // a terminal's side to be standard input, when not -1
};

// Runs `command`, a program and its arguments, in `directory` with `input` as its standard input.
// A run still going after two minutes is killed (status 128 + SIGKILL); a program that cannot be
// started ends with 127.
Outcome run_command(std::vector<std::string> command, const std::string& directory,
                    const std::string& input = "", const Limits& limits = {});
// Runs impx (or `program`, another copy of it) as run_command does, under IMPX_RUNNER when set.
Outcome run_impx(const std::vector<std::string>& args, const std::string& directory,
                 const std::string& input = "", const Limits& limits = {},
                 const std::string& program = "");
// Runs impx as run_impx does, under strace, which stops it right after its first call `call` (a
// set of calls as strace names them) on `path` ("" for any path); `at_hold` runs while it stands
// still, then it goes on. A run that never makes that call runs through without `at_hold`.
// Standard input is `input_terminal` when not -1, as in Limits.
Outcome run_held(const std::vector<std::string>& args, const std::string& directory,
                 const std::string& call, const std::string& path,
                 const std::function<void()>& at_hold, int input_terminal = -1);

// The environment's variable `name`, "" where it is not set.
std::string env(const char* name);
// The impx that the tests run: the built tool, or IMPX_EXE.
std::string impx_program();

// True when impx is a Windows program (IMPX_TARGET=windows), which takes Windows paths and
// follows Windows' rules.
bool windows_target();
// Why the run's address space cannot be limited here (Windows, an emulator or AddressSanitizer,
// which need more themselves), or nullptr where it can.
const char* no_address_space_limit();

// Where strace can run: nullptr when it is here, else what to install.
const char* no_strace();
// Limits under which strace runs impx, injecting `inject` into the calls on `path` ("" for all),
// and writing the `calls` it makes, and the signals, to `log`.
Limits traced(const std::string& inject, const std::string& path = "",
              const std::string& calls = "all", const std::string& log = "/dev/null");

// Where a test unpacks: the system's temporary directory, memory (tmpfs), a file system image made
// afresh and mounted for one test, through its FUSE driver or the kernel's, a folder served
// through bindfs, which serves it by path as sshfs does, or a share of the servers that the vm leg
// runs (SMB, NFS), whose folder a neighbour changes on the server's side.
struct FileSystem {
  std::string name;     // the test's name, as CTest shows it
  std::string kind;     // "", "tmpfs", or the mount's: "exfat-fuse", "fusefat", "bindfs", or the
                        // kernel's "vfat", "exfat", "xfs", "ntfs3", "smb" or "nfs"
  std::string options;  // the driver's mount options
  std::string folder;   // holds the image (or the served folder) and the mount point
  std::string point;
  std::string beneath;  // where a neighbour changes what the mount shows: the served folder
  // Its rules: files known by their names (FAT, exFAT), not by their numbers; directories served
  // by path (FUSE, SMB), where a neighbour beneath the mount can swap what the run holds; names
  // that differ in letter case meeting in one file.
  bool known_by_name() const {
    return kind == "exfat-fuse" || kind == "fusefat" || kind == "vfat" || kind == "exfat";
  }
  bool served_by_path() const {
    return kind == "exfat-fuse" || kind == "fusefat" || kind == "bindfs" || kind == "smb";
  }
  bool folds_case() const { return known_by_name() || kind == "smb"; }
};
// Makes and mounts `image`; "" when it is mounted, else why it cannot be here (the packages).
std::string mount_image(FileSystem& image);
void unmount_image(const FileSystem& image);

// Every entry below `root`, by relative path: a file's bytes, or "<dir>" for a directory.
std::map<std::string, std::string> tree(const std::string& root);
