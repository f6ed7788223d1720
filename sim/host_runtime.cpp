// The host side of the runtime: console text goes to the simulated machine's
// console, files to the directory that stands for the shell's current
// directory, which behaves as a FAT directory would (no rename onto an
// existing name), with the board's file failures and free space applied.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "runtime/file_stream.h"
#include "runtime/print.h"
#include "sim/machine_impl.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kWriteBufferBytes = 1u << 20;

fs::path PathOf(const char* name) { return fs::path(sim::CurrentMachine().directory()) / name; }

uint64_t SizeOf(const fs::path& path) {
  std::error_code error;
  uint64_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

// Space a file gives back when it is truncated or deleted.
void GiveBack(uint64_t bytes) {
  auto& board = sim::CurrentMachine().board();
  if (board.disk_free) *board.disk_free += bytes;
}

}  // namespace

void WriteConsoleText(const char* text, unsigned length) {
  if (length != 0) sim::CurrentMachine().AppendConsole(text, length);
}

struct FileStream {
  std::FILE* file;
  sim::FileFailure failure;
};

FileStream* OpenFileStream(const char* name, const char* mode) {
  sim::Machine& machine = sim::CurrentMachine();
  if (std::string(mode) != "wb") return nullptr;
  sim::FileFailure failure = machine.board().fail_file;
  if (failure == sim::FileFailure::Open) return nullptr;
  fs::path path = PathOf(name);
  uint64_t truncated = SizeOf(path);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return nullptr;
  // The save writes block-sized chunks; a large buffer spares a system call
  // per 4 KiB block.
  std::setvbuf(file, nullptr, _IOFBF, kWriteBufferBytes);
  GiveBack(truncated);
  machine.impl().files.insert(name);
  return new FileStream{file, failure};
}

uint64_t WriteFileStream(FileStream* stream, const void* data, uint64_t size) {
  if (stream->failure == sim::FileFailure::Write) return 0;
  auto& diskFree = sim::CurrentMachine().board().disk_free;
  uint64_t fits = diskFree && *diskFree < size ? *diskFree : size;
  uint64_t written = std::fwrite(data, 1, fits, stream->file);
  if (diskFree) *diskFree -= written;
  return written;
}

bool CloseFileStream(FileStream* stream) {
  bool closed = std::fclose(stream->file) == 0;
  bool ok = closed && stream->failure != sim::FileFailure::Close;
  delete stream;
  return ok;
}

bool FileExists(const char* name) {
  std::error_code error;
  return fs::exists(PathOf(name), error);
}

bool RemoveFile(const char* name) {
  fs::path path = PathOf(name);
  uint64_t size = SizeOf(path);
  std::error_code error;
  if (fs::remove(path, error)) GiveBack(size);
  return !error;
}

bool RenameFile(const char* from, const char* to) {
  sim::Machine& machine = sim::CurrentMachine();
  if (machine.board().fail_file == sim::FileFailure::Rename || FileExists(to) || !FileExists(from)) return false;
  std::error_code error;
  fs::rename(PathOf(from), PathOf(to), error);
  if (error) return false;
  machine.impl().files.insert(to);
  return true;
}

bool CreateFolder(const char* name) {
  fs::path path = PathOf(name);
  std::error_code error;
  fs::create_directory(path, error);
  return fs::is_directory(path, error);
}

bool RemoveEmptyFolder(const char* name) {
  std::error_code error;
  fs::path path = PathOf(name);
  if (!fs::exists(path, error)) return true;
  return fs::is_directory(path, error) && fs::remove(path, error);
}
