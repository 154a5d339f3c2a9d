// Unpacking one book: its output directory, the info file "RSRC.INF" and the resource files.
//
// "RSRC.INF" is the book's info block behind a 12-byte prefix:
//   0 the bytes 0x00 0x01 (2)   2 "BOOKVELT" (8)   10 info_length, big-endian (2)   12 info block
// Each resource goes to a file named by its four type bytes, up to the first zero byte, or
// "DATA.FRK" for the type of four blanks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "bookfile/bookfile.h"
#include "platform/platform.h"

constexpr char kInfoFileName[] = "RSRC.INF";
// The prefix: version 1 for books of either version, the signature, the stored info length.
constexpr unsigned char kInfoFileVersion[2] = {0x00, 0x01};
constexpr std::size_t kInfoFileLengthOffset = sizeof kInfoFileVersion + kSignatureSize;
constexpr std::size_t kInfoFilePrefixSize = kInfoFileLengthOffset + 2;
// The type code of four blanks and the name of its file.
constexpr char kBlankType[] = "    ";
constexpr char kBlankTypeFileName[] = "DATA.FRK";

// Resources are copied through one buffer per book, sized to the largest directory entry but
// held between these bounds: memory never follows the sizes a book declares, and a record larger
// than every directory entry is still copied in chunks of a useful size.
constexpr std::size_t kDataBufferMin = std::size_t{4} << 10;
constexpr std::size_t kDataBufferMax = std::size_t{1} << 20;

// Resources of at least this size in a book that is a regular file are copied inside the kernel
// where that pays (copy_in_kernel): one copy of each byte instead of two. Smaller ones come from
// the book stream's buffer, which a copy past it would make read again what the kernel copied.
// docs/benchmark.md holds the figures behind this size and behind the file systems it pays on.
constexpr std::size_t kKernelCopyMin = std::size_t{1} << 20;

// The book stream's own buffer: large reads for the directory and the small resources.
constexpr std::size_t kBookStreamBuffer = std::size_t{64} << 10;

// Takes the book stream, open for binary reading at the start of the file, and closes it.
// Creates the output directory named after the book inside `folder`, the folder the book was read
// from, and writes "RSRC.INF" and every resource file there, each reached through the directory
// held since its making. Ends the run on any failure.
void unpack_book(std::FILE* book, const Directory& folder);

// Writes every resource to its own file in `output`, whose name messages quote as `shown`. The
// stream stands at the start of the directory, which is read whole before any resource file is
// created; it is left after the last resource record, open.
void extract_resources(std::FILE* book, const ImpHeader& header, Directory& output,
                       const std::string& shown);
