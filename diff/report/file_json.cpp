// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/file_json.h"

#include "diff/report/escaped_text.h"

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
  json place = {{"flash_offset", nullptr}, {"size", file->size}};
  if (!file->offset)
    place["flash_offset_reason"] = "inside decompressed bytes";
  else if (const char* outside = OutsideFlashPartReason(geometry, dump, *file->offset))
    place["flash_offset_reason"] = outside;
  else
    place["flash_offset"] = FileFlashOffset(geometry, dump, *file->offset);
  if (file->version) place["version"] = EscapedText(*file->version);
  return place;
}

namespace {

std::string StringText(const std::string& text) {
  return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string FileEntryText(const Geometry& geometry, const ChipDump& dump, const fwtree::TreeFile& file) {
  // Keys in the order nlohmann writes an object's: sorted.
  std::string text = file.compressed ? "{\"compressed\":true" : "{\"compressed\":false";
  text += ",\"flash_offset\":";
  const char* reason = nullptr;
  if (!file.offset)
    reason = "inside decompressed bytes";
  else
    reason = OutsideFlashPartReason(geometry, dump, *file.offset);
  if (reason != nullptr)
    text += std::string("null,\"flash_offset_reason\":\"") + reason + '"';
  else
    text += std::to_string(FileFlashOffset(geometry, dump, *file.offset));
  text += ",\"guid\":\"" + fwtree::GuidText(file.guid) + "\",\"index\":" + std::to_string(file.index);
  text += ",\"name\":" + (file.name ? StringText(EscapedText(*file.name)) : std::string("null"));
  text += ",\"path\":[";
  for (size_t i = 0; i < file.path.size(); ++i) text += (i == 0 ? "\"" : ",\"") + fwtree::GuidText(file.path[i]) + '"';
  text += "],\"size\":" + std::to_string(file.size);
  text += ",\"type_name\":" + StringText(fwtree::FileTypeName(file.type));
  if (file.version) text += ",\"version\":" + StringText(EscapedText(*file.version));
  return text + "}";
}

json FileChangeJson(const Geometry& geometry, const ChipDump& main, const ChipDump& backup, const FileChange& change) {
  json entry = FileNameJson(change.main != nullptr ? *change.main : *change.backup);
  entry["change"] = FileChangeName(change.kind);
  entry["main"] = FilePlaceJson(geometry, main, change.main);
  entry["backup"] = FilePlaceJson(geometry, backup, change.backup);
  if (change.masked) entry["masked"] = true;
  if (!change.reason.empty()) entry["reason"] = EscapedText(change.reason);
  if (change.hiddenBy != nullptr) entry["hidden_by"] = FileNameJson(*change.hiddenBy);
  if (change.BetweenVolumes()) {
    json to = json::array();
    for (const fwtree::Guid& guid : change.backup->path) to.push_back(fwtree::GuidText(guid));
    entry["moved_to"] = {{"path", to}, {"index", change.backup->index}};
  }
  if (change.kind == FileChangeKind::Moved) entry["content_changed"] = change.contentChanged;
  return entry;
}

}  // namespace pdiff
