#include "record/record_files.h"

#include "runtime/file_replace.h"
#include "runtime/print.h"

namespace {

struct RecordFile {
  const char* name;     // within the folder
  const char* caption;  // progress caption
  const uint8_t* data;
  uint32_t size;
  uint32_t chunkSize;
};

constexpr unsigned kFileCount = 3;

SafeFileNames NamesInFolder(const char* name) {
  char path[64];
  unsigned length = 0;
  for (const char* c = kRecordFolder; *c != '\0'; ++c) path[length++] = *c;
  path[length++] = '/';
  for (const char* c = name; *c != '\0' && length + 1 < sizeof path; ++c) path[length++] = *c;
  path[length] = '\0';
  return SafeNamesFor(path);
}

bool WriteNewFile(const RecordFile& file) {
  SafeFileNames names = NamesInFolder(file.name);
  FileStream* stream = OpenFileStream(names.fresh, "wb");
  if (stream == nullptr) return false;
  bool written = WriteInChunks(stream, file.data, file.size, file.chunkSize, file.caption);
  Print("\n");
  return CloseFileStream(stream) && written;
}

}  // namespace

bool WriteRecordFiles(const BoardRecord& record, const TextBuffer& json) {
  const ChipRecord& main = record.Chips[0];
  const ChipRecord& backup = record.Chips[1];
  const RecordFile files[kFileCount] = {
      {"main.rom", "Writing main.rom ................ ", main.Image, main.FlashSize, main.BlockSize},
      {"backup.rom", "Writing backup.rom .............. ", backup.Image, backup.FlashSize, backup.BlockSize},
      {"board.json", "Writing board.json .............. ", reinterpret_cast<const uint8_t*>(json.Data), json.Length,
       json.Length},
  };
  bool createdFolder = !FileExists(kRecordFolder);
  bool written = CreateFolder(kRecordFolder);
  for (unsigned i = 0; i < kFileCount && written; ++i) written = WriteNewFile(files[i]);
  // board.json last: a record whose description stands has its images.
  for (unsigned i = 0; i < kFileCount && written; ++i) written = ReplaceWithNewFile(NamesInFolder(files[i].name));
  if (!written) {
    for (unsigned i = 0; i < kFileCount; ++i) {
      SafeFileNames names = NamesInFolder(files[i].name);
      RemoveFile(names.fresh);
      // Everything in a folder of this run's own is this run's.
      if (createdFolder) RemoveFile(names.final);
    }
    if (createdFolder) RemoveEmptyFolder(kRecordFolder);
  }
  return written;
}
