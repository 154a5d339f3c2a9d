#include "tests/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tests/files.h"

namespace fs = std::filesystem;

namespace {

// Windows programs end lines with CR LF on the console; the tests compare the text itself.
std::string without_carriage_returns(std::string text) {
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

}  // namespace

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string impx_program() {
  return env("IMPX_EXE").empty() ? IMPX_PATH : env("IMPX_EXE");
}

bool windows_target() {
  return env("IMPX_TARGET") == "windows";
}

const char* no_address_space_limit() {
  if (windows_target()) return "address-space limits are a POSIX matter";
  if (!env("IMPX_RUNNER").empty())
    return "the limit is smaller than what the emulator needs itself";
#ifdef __SANITIZE_ADDRESS__
  return "AddressSanitizer reserves more address space than the limit";
#endif
  return nullptr;
}

constexpr int kRunDeadlineMs = 120000;

Outcome run_command(std::vector<std::string> command, const std::string& directory,
                    const std::string& input, const Limits& limits) {
  const std::string scratch = make_temp_directory(), in_path = scratch + "/in",
                    out_path = scratch + "/out", err_path = scratch + "/err";
  write_file(in_path, input);
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(directory.c_str()) != 0) {
      _exit(126);
    }
    int dead[2];
    if (limits.dead_stderr && (pipe(dead) != 0 || close(dead[0]) != 0 || dup2(dead[1], 2) < 0)) {
      _exit(126);
    }
    int piped[2];  // the input fits in the pipe's buffer, so it is written before the run starts
    if (limits.input_from_pipe &&
        (pipe(piped) != 0 ||
         write(piped[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
         close(piped[1]) != 0 || dup2(piped[0], 0) < 0)) {
      _exit(126);
    }
    if (limits.input_terminal >= 0 && dup2(limits.input_terminal, 0) < 0) _exit(126);
    for (int number = 1; number < NSIG; ++number) signal(number, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const auto& [resource, value] : {std::pair{RLIMIT_AS, limits.address_space},
                                          {RLIMIT_FSIZE, limits.file_size},
                                          {RLIMIT_NOFILE, limits.open_files}}) {
      const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
      if (value > 0) setrlimit(resource, &limit);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int wait_status = 0;
  for (int waited = 0;; ++waited, usleep(1000)) {
    const pid_t ended = waitpid(child, &wait_status, WNOHANG);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (waited == kRunDeadlineMs) kill(child, SIGKILL);
  }
  const Outcome run{WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status),
                    without_carriage_returns(read_file(err_path)),
                    without_carriage_returns(read_file(out_path))};
  remove_tree(scratch);
  return run;
}

Outcome run_impx(const std::vector<std::string>& args, const std::string& directory,
                 const std::string& input, const Limits& limits, const std::string& program) {
  // wine prepares its prefix on the first run and says so on standard error; do that once
  // before the runs that are looked at.
  // The wrapper, then IMPX_RUNNER when set: the program that runs impx (wine for impx.exe,
  // qemu-user for a tool built for another CPU).
  std::vector<std::string> command = limits.wrapper;
  if (!env("IMPX_RUNNER").empty()) command.push_back(env("IMPX_RUNNER"));
  command.push_back(!program.empty() ? program : impx_program());
  static bool warmed_up = !windows_target();
  if (!warmed_up) {
    warmed_up = true;
    run_command({command.begin() + limits.wrapper.size(), command.end()}, directory);
  }
  command.insert(command.end(), args.begin(), args.end());
  Outcome run = run_command(command, directory, input, limits);
  // A wine client that meets its server as the server shuts down after an idle spell fails
  // before impx.exe starts, with status 1 (which impx never ends with, and which a busy machine
  // was seen to give without a word); that is wine's matter, so such a run is made again.
  for (int retry = 0; retry < 3 && windows_target() && run.status == 1; ++retry) {
    run = run_command(command, directory, input, limits);
  }
  return run;
}

const char* no_strace() {
  static const bool here = run_command({"strace", "-V"}, "/").status == 0;
  return here ? nullptr : "needs strace (package strace)";
}

Limits traced(const std::string& inject, const std::string& path, const std::string& calls,
              const std::string& log) {
  Limits limits;
  // LeakSanitizer, in the sanitizer build, cannot work under ptrace.
  limits.wrapper = {"strace",           "-f",
                    "--output=" + log,  "--env=ASAN_OPTIONS=detect_leaks=0",
                    "--trace=" + calls, "--inject=" + inject};
  if (!path.empty()) limits.wrapper.push_back("--trace-path=" + path);
  return limits;
}

Outcome run_held(const std::vector<std::string>& args, const std::string& directory,
                 const std::string& call, const std::string& path,
                 const std::function<void()>& at_hold, int input_terminal) {
  const std::string logs = make_temp_directory(), log = logs + "/strace";
  std::atomic<bool> ended{false};
  std::thread beside([&] {
    const std::string stopped = "--- stopped by SIGSTOP ---";  // after the process's number
    std::string seen;
    std::size_t at = std::string::npos;
    for (; !ended && at == std::string::npos; usleep(2000)) {
      std::ifstream in(log);
      seen.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      at = seen.find(stopped);
    }
    if (at == std::string::npos) return;
    const pid_t held = std::stoi(seen.substr(seen.rfind('\n', at) + 1));  // npos + 1 is 0
    at_hold();
    // Until the run ends: a stop that comes before strace sees it would outlast one SIGCONT.
    for (; !ended; usleep(2000)) kill(held, SIGCONT);
  });
  Limits limits = traced(call + ":signal=SIGSTOP:when=1", path, call, log);
  limits.input_terminal = input_terminal;
  const Outcome run = run_impx(args, directory, "", limits);
  ended = true;
  beside.join();
  // A run that did not end as impx ends (killed at the deadline, say) leaves its log to be read.
  if (run.status == 0 || run.status == 255) {
    remove_tree(logs);
  } else {
    std::cout << "the held run ended with " << run.status << "; strace's log is kept: " << log
              << "\n";
  }
  return run;
}

std::string mount_image(FileSystem& image) {
  const std::string& kind = image.kind;
  const bool exfat = kind == "exfat-fuse", served = kind == "bindfs", nfs = kind == "nfs";
  const bool fuse = exfat || served || kind == "fusefat", share = nfs || kind == "smb";
  const std::string module = kind == "smb" ? "cifs" : kind;
  // Each kind's mkfs (none for a served folder or a share), and the packages it and its driver
  // come in.
  static const std::map<std::string, std::pair<std::vector<std::string>, std::string>> makers = {
      {"exfat-fuse", {{"mkfs.exfat"}, "exfatprogs and exfat-fuse"}},
      {"fusefat", {{"mkfs.vfat"}, "dosfstools and fusefat"}},
      {"vfat", {{"mkfs.vfat"}, "dosfstools"}},
      {"exfat", {{"mkfs.exfat"}, "exfatprogs"}},
      {"xfs", {{"mkfs.xfs"}, "xfsprogs"}},
      {"ntfs3", {{"mkfs.ntfs", "-F", "-Q"}, "ntfs-3g"}},
      {"bindfs", {{}, "bindfs"}}};
  const auto maker = makers.find(kind);
  const std::string packages = maker != makers.end() ? maker->second.second : "";
  if (geteuid() != 0) return "mounting an image needs root";
  if (fuse && access("/dev/fuse", R_OK | W_OK) != 0) return "needs FUSE (/dev/fuse)";
  if (!fuse && run_command({"modprobe", module}, "/").status != 0) {
    return "needs the kernel's " + module + " module (the vm leg boots a kernel with it)";
  }
  // A share of the vm leg's servers: "SOURCE FOLDER", the folder being the share's on the server.
  const std::string shared = env(nfs ? "IMPX_NFS_SHARE" : "IMPX_SMB_SHARE");
  if (share && shared.find(' ') == std::string::npos) {
    return nfs ? "needs the vm leg's nfsd (IMPX_NFS_SHARE)"
               : "needs the vm leg's Samba (IMPX_SMB_SHARE)";
  }
  image.folder = make_temp_directory();
  image.point = image.folder + "/mounted";
  const std::string file = image.folder + "/image";
  fs::create_directory(image.point);
  std::vector<std::string> mount = {"bindfs", image.options, file, image.point}, loop;
  if (served) {
    image.beneath = file;
    fs::create_directory(file);
  } else if (share) {
    image.beneath = shared.substr(shared.find(' ') + 1);
    const std::string type = nfs ? "nfs" : "cifs", options = nfs ? "vers=4.2" : "guest,vers=3.0";
    mount = {"mount", "-t", type, "-o", options, shared.substr(0, shared.find(' ')), image.point};
  } else {
    write_file(file, "");
    fs::resize_file(file, (kind == "xfs" ? 320 : 64) << 20);  // xfs's least
    std::vector<std::string> mkfs = maker->second.first;
    mkfs.push_back(file);
    const Outcome made = run_command(mkfs, "/");
    if (made.status != 0) return made.status == 127 ? "needs " + packages : "mkfs: " + made.err;
    mount = {"fusefat", "-s", "-o", "rw+," + image.options, file, image.point};
    if (!fuse) mount = {"mount", "-t", kind, "-o", "loop", file, image.point};
  }
  if (exfat) {  // its driver wants a block device: a loop device, let go once the mount holds it
    const std::string device = run_command({"losetup", "-f", "--show", file}, "/").out;
    if (device.empty()) return "losetup found no free loop device";
    loop = {"losetup", "-d", device.substr(0, device.size() - 1)};  // without its line end
    mount = {"mount.exfat-fuse", "-o", image.options, loop.back(), image.point};
  }
  const Outcome mounted = run_command(mount, "/");
  if (!loop.empty()) run_command(loop, "/");
  if (mounted.status == 127) return "needs " + packages;
  return mounted.status == 0 ? "" : mount[0] + " could not mount the image: " + mounted.err;
}

void unmount_image(const FileSystem& image) {
  if (image.point.empty()) return;
  // A mount that cannot be taken away now is detached, so that nothing below is removed.
  if (umount(image.point.c_str()) != 0) umount2(image.point.c_str(), MNT_DETACH);
  remove_tree(image.folder);
  if (image.kind != "smb" && image.kind != "nfs") return;
  for (const auto& entry : fs::directory_iterator(image.beneath)) remove_tree(entry.path());
}

std::map<std::string, std::string> tree(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    entries[relative] = entry.is_directory() ? "<dir>" : read_file(entry.path().string());
  }
  return entries;
}
