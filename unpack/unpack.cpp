#include "unpack/unpack.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/exit_with_pause.h"
#include "platform/platform.h"

namespace {

constexpr char kHeadCutShort[] = "Not a complete IMP file (info block or name cut short)\n";
constexpr char kDataCutShort[] = "Not a complete IMP file (resource data cut short)\n";

using Buffer = std::unique_ptr<unsigned char[]>;

// Left uninitialised: every byte is written before it is read. An allocation that fails ends the
// run in the new handler.
Buffer allocate(std::size_t size) {
  return Buffer(new unsigned char[size]);
}

// Ends the run after a read that came short: with the system's error when there was one (a disk
// that fails is no book cut short), else with `cut_short`.
[[noreturn]] void fail_short_read(int error, const char* cut_short) {
  if (error == 0) fail("%s", cut_short);
  errno = error;
  fail_with_error("read");
}

// Reads `size` bytes; returns how many arrived, and in `error` what stopped the read (0 at the
// end of the book).
std::size_t read_some(std::FILE* book, unsigned char* data, std::size_t size, int& error) {
  const std::size_t got = std::fread(data, 1, size, book);
  error = got != size && std::ferror(book) ? errno : 0;
  return got;
}

void read_exactly(std::FILE* book, unsigned char* data, std::size_t size, const char* cut_short) {
  int error = 0;
  if (read_some(book, data, size, error) != size) fail_short_read(error, cut_short);
}

[[noreturn]] void refuse_taken(const std::string& quoted) {
  fail("Refusing output directory \"%s\": something else took its place\n", quoted.c_str());
}

// An output file, closed on every way out of the procedure that created it. It is created only
// in the output directory this run made, where another could have come to stand behind its handle;
// `shown` is that directory's name as messages quote it.
struct OutputFile {
  OutputFile(Directory& directory, const std::string& shown, const Path& name) {
    if (!still_in_place(directory)) {
      if (errno == 0) refuse_taken(shown);
      fail_with_error("out");
    }
    file = names_no_file(name) ? -1 : create_output(directory, name);
    if (file < 0) fail_with_error("out");
  }
  ~OutputFile() {
    if (file >= 0) close_output(file);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const unsigned char* data, std::size_t size) {
    if (!write_output(file, data, size)) fail_with_error("write");
  }
  void close() {
    const int closing = file;
    file = -1;
    if (!close_output(closing)) fail_with_error("close");
  }

  int file = -1;
};

void resource_file_name(const ImpEntry& entry, char (&name)[sizeof kBlankTypeFileName]) {
  if (std::memcmp(entry.type, kBlankType, kTypeSize) == 0) {
    std::memcpy(name, kBlankTypeFileName, sizeof kBlankTypeFileName);
  } else {
    std::memcpy(name, entry.type, kTypeSize);
    name[kTypeSize] = '\0';
  }
}

// Copies one resource's data, which starts at `position` in the book, to `out`: large ones inside
// the kernel where it can, the rest through the buffer, chunk by chunk.
void copy_resource(std::FILE* book, std::uint64_t position, std::uint32_t size, bool seekable,
                   unsigned char* buffer, std::size_t buffer_size, OutputFile& out) {
  std::uint64_t copied = 0;
  if (seekable && size >= kKernelCopyMin &&
      !copy_in_kernel(book, position, out.file, size, copied)) {
    fail_with_error("read");
  }
  for (std::uint64_t left = size - copied; left > 0;) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_size));
    int error = 0;
    const std::size_t got = read_some(book, buffer, chunk, error);
    out.write(buffer, got);  // the bytes that arrived stay, whatever ends the read
    if (got != chunk) fail_short_read(error, kDataCutShort);
    left -= chunk;
  }
}

}  // namespace

void unpack_book(std::FILE* stream, const Directory& folder) {
  // Declared first, the stream's buffer is released after the stream is closed.
  Buffer stream_buffer;
  BookStream book(stream);
  stream_buffer = allocate(kBookStreamBuffer);
  std::setvbuf(stream, reinterpret_cast<char*>(stream_buffer.get()), _IOFBF, kBookStreamBuffer);
  ImpHeader header;
  read_header(book.get(), header);

  // The info buffer holds "RSRC.INF" exactly as it is written. Its stored info length is the
  // header's bytes 22-23, put back from the header so that the book is read in one forward pass.
  const std::size_t info_size = kInfoFilePrefixSize + header.info_length;
  Buffer info = allocate(info_size);
  Buffer name = allocate(std::size_t{header.name_length} + 1);
  std::memcpy(info.get(), kInfoFileVersion, sizeof kInfoFileVersion);
  std::memcpy(info.get() + sizeof kInfoFileVersion, kSignature, kSignatureSize);
  store_be16(info.get() + kInfoFileLengthOffset, header.info_length);
  read_exactly(book.get(), info.get() + kInfoFilePrefixSize, header.info_length, kHeadCutShort);
  read_exactly(book.get(), name.get(), header.name_length, kHeadCutShort);
  name[header.name_length] = '\0';

  // The book name ends at its first zero byte and must name one new directory right here.
  const char* directory = reinterpret_cast<const char*>(name.get());
  const std::string shown = escaped(name.get(), std::strlen(directory));
  Path directory_name;
  if (*directory == '\0' || !entry_name(directory, directory_name)) {
    fail("Refusing book name \"%s\": it must name one new directory\n", shown.c_str());
  }
  Directory output;
  switch (make_output_directory(folder, directory_name, output)) {
    case Making::made:
      break;
    case Making::exists:
      fail("The res directory already exists.  Please delete it first\n");
    case Making::taken:
      refuse_taken(shown);
    case Making::failed:
      if (errno == ENOMEM) fail_out_of_memory();
      fail_with_error("mkdir");
  }

  Path info_name;
  entry_name(kInfoFileName, info_name);
  OutputFile info_file(output, shown, info_name);
  info_file.write(info.get(), info_size);
  info_file.close();
  info.reset();
  name.reset();

  extract_resources(book.get(), header, output, shown);
  book.reset();
}

void extract_resources(std::FILE* book, const ImpHeader& header, Directory& output,
                       const std::string& shown) {
  ImpEntry entry;
  std::uint32_t largest = 0;
  for (unsigned i = 0; i < header.resource_count; ++i) {
    read_entry(book, header, entry);
    largest = std::max(largest, entry.size);
  }
  const std::size_t buffer_size = std::clamp<std::size_t>(largest, kDataBufferMin, kDataBufferMax);
  Buffer buffer = allocate(buffer_size);

  // Every read so far was checked, so the position is known without asking the stream. In a book
  // that is a regular file, each resource is checked against the book's length before its file
  // is created; from a pipe only the reading tells.
  std::uint64_t length = 0;
  const bool length_known = regular_file_length(book, length);
  std::uint64_t position = data_offset(header);
  Path name;

  for (unsigned i = 0; i < header.resource_count; ++i) {
    read_entry(book, header, entry);
    position += entry_size(header.version);
    char bytes[sizeof kBlankTypeFileName];
    resource_file_name(entry, bytes);
    if (!entry_name(bytes, name)) {
      fail("Refusing resource type \"%s\": it must name one file in the book's directory\n",
           escaped(entry.type, kTypeSize).c_str());
    }
    if (length_known && (position > length || entry.size > length - position)) {
      fail("%s", kDataCutShort);
    }
    OutputFile out(output, shown, name);
    copy_resource(book, position, entry.size, length_known, buffer.get(), buffer_size, out);
    out.close();
    position += entry.size;
  }
}
