// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/causes_report.h"

#include "diff/compare/text_format.h"
#include "diff/report/escaped_text.h"

namespace pdiff {

using nlohmann::json;

json CausesJson(const CauseAnalysis& analysis) {
  json causes = json::array();
  for (const Cause& cause : analysis.causes) {
    json item = {{"kind", CauseKindName(cause.kind)}, {"chip", CauseChipName(cause.chip)},
                 {"offsets", cause.offsets},          {"bytes", cause.bytes},
                 {"files", cause.fileNames},          {"text", cause.text}};
    if (cause.kind == CauseKind::Erased) {
      item["blocks"] = cause.blocks;
      item["block_size"] = 4096;
      item["large_blocks"] = cause.largeBlocks;
    }
    if (cause.kind == CauseKind::BitErrors) {
      item["bits"] = cause.bitsOneOnMain + cause.bitsOneOnBackup;
      item["bits_one_on_main"] = cause.bitsOneOnMain;
      item["bits_one_on_backup"] = cause.bitsOneOnBackup;
    }
    if (cause.kind == CauseKind::DifferentBuild) item["files_rebuilt"] = cause.files;
    if (cause.kind == CauseKind::Settings) item["variables_changed"] = cause.files;
    causes.push_back(std::move(item));
  }
  return causes;
}

namespace {

json OptionalText(const std::optional<std::string>& text) { return text ? json(EscapedText(*text)) : json(nullptr); }

json HeadersJson(const PeHeaders& headers) {
  json sections = json::array();
  for (const PeSection& section : headers.sections)
    sections.push_back({{"name", EscapedText(section.name)},
                        {"virtual_address", section.virtualAddress},
                        {"virtual_size", section.virtualSize},
                        {"raw_size", section.rawSize}});
  return {
      {"format", headers.te ? "TE" : "PE"},
      {"machine", headers.machine},
      {"time_stamp", headers.timeStamp ? json(*headers.timeStamp) : json(nullptr)},
      {"time_stamp_text", headers.timeStamp.value_or(0) != 0 ? json(TimeStampText(*headers.timeStamp)) : json(nullptr)},
      {"image_size", headers.imageSize ? json(*headers.imageSize) : json(nullptr)},
      {"entry_point", headers.entryPoint},
      {"sections", sections},
      {"debug_path", OptionalText(headers.debugPath)},
      {"debug_id", OptionalText(headers.debugId)},
      {"problem", headers.problem.empty() ? json(nullptr) : json(headers.problem)}};
}

json Escaped(const std::vector<std::string>& texts) {
  json list = json::array();
  for (const std::string& text : texts) list.push_back(EscapedText(text));
  return list;
}

std::string Quoted(const std::optional<std::string>& text) {
  return text ? '"' + EscapedText(*text) + '"' : std::string("none");
}

std::string StringsLine(const char* side, const std::vector<std::string>& listed, uint64_t count) {
  std::string line = std::string("strings only in ") + side + " (" + std::to_string(count) + "): ";
  for (size_t i = 0; i < listed.size(); ++i) line += (i > 0 ? ", \"" : "\"") + EscapedText(listed[i]) + '"';
  if (count > listed.size()) line += ", ...";
  return line;
}

}  // namespace

json ImageChangeJson(const ImageChange& change) {
  json sections = json::array();
  for (const SectionChange& section : change.sections)
    sections.push_back(
        {{"name", EscapedText(section.name)},
         {"differing_bytes", section.differingBytes},
         {"only_in", section.onlyIn < 0 ? json(nullptr) : json(section.onlyIn == 0 ? "main" : "backup")}});
  return {{"main", HeadersJson(change.main)},
          {"backup", HeadersJson(change.backup)},
          {"main_version", OptionalText(change.mainVersion)},
          {"backup_version", OptionalText(change.backupVersion)},
          {"differing_sections", sections},
          {"strings_compared", change.stringsCompared},
          {"strings_only_in_main", Escaped(change.onlyInMain)},
          {"strings_only_in_main_count", change.onlyInMainCount},
          {"strings_only_in_backup", Escaped(change.onlyInBackup)},
          {"strings_only_in_backup_count", change.onlyInBackupCount},
          {"rebuilt", change.rebuilt},
          {"rebuilt_by", change.rebuiltBy}};
}

std::vector<std::string> ImageChangeLines(const ImageChange& change) {
  std::vector<std::string> lines;
  const PeHeaders& a = change.main;
  const PeHeaders& b = change.backup;
  if (!a.problem.empty()) lines.push_back("image in Main malformed: " + a.problem);
  if (!b.problem.empty()) lines.push_back("image in Backup malformed: " + b.problem);
  std::string sections;
  for (const SectionChange& section : change.sections)
    sections += (sections.empty() ? "" : ", ") + EscapedText(section.name) + ' ' +
                std::to_string(section.differingBytes) + " bytes" +
                (section.onlyIn < 0    ? ""
                 : section.onlyIn == 0 ? " (only in Main)"
                                       : " (only in Backup)");
  if (!sections.empty()) lines.push_back("sections: " + sections);
  // A build that zeroes the field leaves nothing to say.
  auto stamp = [](const PeHeaders& h) {
    return h.timeStamp.value_or(0) != 0 ? TimeStampText(*h.timeStamp) : std::string("none");
  };
  if (a.timeStamp.value_or(0) != 0 || b.timeStamp.value_or(0) != 0)
    lines.push_back(a.timeStamp == b.timeStamp ? "time stamp: " + stamp(a) + " on both"
                                               : "time stamps: " + stamp(a) + " in Main, " + stamp(b) + " in Backup");
  if (a.debugPath || b.debugPath)
    lines.push_back(a.debugPath == b.debugPath
                        ? "debug path: " + Quoted(a.debugPath) + " on both"
                        : "debug paths: " + Quoted(a.debugPath) + " in Main, " + Quoted(b.debugPath) + " in Backup");
  // The file's line gives a version both share.
  if (change.mainVersion != change.backupVersion)
    lines.push_back("versions: " + Quoted(change.mainVersion) + " in Main, " + Quoted(change.backupVersion) +
                    " in Backup");
  if (!change.stringsCompared) lines.push_back("strings not compared: the comparison's string budget is spent");
  if (change.onlyInMainCount > 0) lines.push_back(StringsLine("Main", change.onlyInMain, change.onlyInMainCount));
  if (change.onlyInBackupCount > 0)
    lines.push_back(StringsLine("Backup", change.onlyInBackup, change.onlyInBackupCount));
  return lines;
}

std::vector<const ImageChange*> ImagesByFile(const CauseAnalysis& analysis, size_t files) {
  std::vector<const ImageChange*> images(files, nullptr);
  for (const FileImageChange& item : analysis.images)
    if (item.file < files) images[item.file] = &item.image;
  return images;
}

}  // namespace pdiff
