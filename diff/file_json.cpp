#include "diff/file_json.h"

#include "diff/escaped_text.h"

namespace pdiff {

using nlohmann::json;

json FileNameJson(const fwtree::TreeFile& file) {
  json path = json::array();
  for (const fwtree::Guid& guid : file.path) path.push_back(fwtree::GuidText(guid));
  return {{"guid", fwtree::GuidText(file.guid)},
          {"name", file.name ? json(EscapedText(*file.name)) : json(nullptr)},
          {"type_name", fwtree::FileTypeName(file.type)},
          {"path", path},
          {"index", file.index},
          {"compressed", file.compressed}};
}

json FilePlaceJson(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeFile* file) {
  if (file == nullptr) return nullptr;
  return {{"flash_offset", file->offset ? json(FileFlashOffset(geometry, dump, *file->offset)) : json(nullptr)},
          {"size", file->size}};
}

json FileChangeJson(const Geometry& geometry, const ChipDump& main, const ChipDump& backup, const FileChange& change) {
  json entry = FileNameJson(change.main != nullptr ? *change.main : *change.backup);
  entry["change"] = FileChangeName(change.kind);
  entry["main"] = FilePlaceJson(geometry, main, change.main);
  entry["backup"] = FilePlaceJson(geometry, backup, change.backup);
  if (change.masked) entry["masked"] = true;
  return entry;
}

}  // namespace pdiff
