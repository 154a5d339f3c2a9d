// Files and scratch directories for the tests, the fuzz target and the benchmark's helpers.
#pragma once

#include <string>

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// A fresh empty directory for one test below `base` (the system's temporary directory when ""),
// removed again by the caller's `remove_tree`.
std::string make_temp_directory(const std::string& base = "");
void remove_tree(const std::string& path);

// A folder in memory (tmpfs) to make scratch directories in, or "" where there is none to write.
std::string memory_folder();
