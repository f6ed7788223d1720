// The host side of the runtime: console text goes to the simulated machine's
// console, file streams to the directory that stands for the shell's current
// directory, with the board's file failures applied.
#include <cstdio>
#include <string>

#include "runtime/file_stream.h"
#include "runtime/print.h"
#include "sim/machine_impl.h"

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
  std::string path = machine.directory() + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return nullptr;
  machine.impl().files.insert(name);
  return new FileStream{file, failure};
}

uint64_t WriteFileStream(FileStream* stream, const void* data, uint64_t size) {
  if (stream->failure == sim::FileFailure::Write) return 0;
  return std::fwrite(data, 1, size, stream->file);
}

bool CloseFileStream(FileStream* stream) {
  bool closed = std::fclose(stream->file) == 0;
  bool ok = closed && stream->failure != sim::FileFailure::Close;
  delete stream;
  return ok;
}
