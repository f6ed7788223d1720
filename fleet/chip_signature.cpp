// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "fleet/chip_signature.h"

#include <algorithm>

#include "diff/compare/text_format.h"
#include "diff/compare/escaped_text.h"
#include "fwtree/guid.h"

namespace fleet {
namespace {

std::string TypeLabel(uint8_t type) {
  switch (type) {
    case 0x06: return "PEI module";
    case 0x07: return "DXE driver";
    case 0x09: return "application";
    case 0x0A: return "SMM module";
    case 0x0B: return "volume image";
    case 0x01: return "raw file";
    case 0x02: return "freeform file";
    default: return "file of type " + pdiff::FileTypeName(type);
  }
}

// What happened to golden's file on the chip; empty for changes the
// signature leaves out (files hidden by an unreadable one, masked bytes).
const char* ChangeClass(const pdiff::FileChange& change) {
  using Kind = pdiff::FileChangeKind;
  switch (change.kind) {
    case Kind::Changed: return "changed";
    case Kind::Moved: return change.contentChanged ? "moved and changed" : "moved";
    case Kind::OnlyInMain: return "missing";
    case Kind::OnlyInBackup: return "added";
    case Kind::UnreadableInMain: return "readable only on the chip";
    case Kind::UnreadableInBackup: return "unreadable";
    case Kind::HiddenInMain:
    case Kind::HiddenInBackup:
    case Kind::MaskedOnly: return "";
  }
  return "";
}

SignatureItem FileItem(const pdiff::FileChange& change, const char* changeClass) {
  const fwtree::TreeFile& file = change.main ? *change.main : *change.backup;
  std::string key = "file ";
  for (const fwtree::Guid& outer : file.path) key += fwtree::GuidText(outer) + "/";
  key += fwtree::GuidText(file.guid) + "#" + std::to_string(file.index) + " " + changeClass;
  // Appended, not "\"" + text: GCC 12 at -O3 warns (-Wrestrict) on the
  // insert at the front that form compiles to.
  std::string name = fwtree::GuidText(file.guid);
  if (file.name) name = std::string(1, '"').append(pdiff::EscapedText(*file.name)).append(1, '"');
  return {key, TypeLabel(file.type) + " " + name + " " + changeClass};
}

const char* VariableClass(pdiff::VariableChangeKind kind) {
  using Kind = pdiff::VariableChangeKind;
  switch (kind) {
    case Kind::Changed: return "changed";
    case Kind::OnlyInMain: return "missing";
    case Kind::OnlyInBackup: return "added";
    case Kind::DeletedInMain: return "deleted in golden";
    case Kind::DeletedInBackup: return "deleted";
  }
  return "changed";
}

// The chip's causes, named by kind and the files they fall in; the chip is
// the compared one, golden being Main.
void AddCauseItems(const pdiff::CauseAnalysis& analysis, std::vector<SignatureItem>* items) {
  for (const pdiff::Cause& cause : analysis.causes) {
    const char* what = nullptr;
    switch (cause.kind) {
      case pdiff::CauseKind::Erased:
        what = cause.chip == pdiff::CauseChip::Main ? "erased in golden" : "erased blocks";
        break;
      case pdiff::CauseKind::BitErrors: what = "bit errors"; break;
      case pdiff::CauseKind::DifferentBuild: what = "a different build"; break;
      case pdiff::CauseKind::Settings: what = "settings changed"; break;
      case pdiff::CauseKind::Layout: what = "layout"; break;
      case pdiff::CauseKind::Other: continue;  // the file and area items say it
    }
    std::string files;
    if (cause.kind == pdiff::CauseKind::Erased || cause.kind == pdiff::CauseKind::BitErrors)
      for (size_t i = 0; i < cause.fileNames.size() && i < kCauseFilesInSignature; ++i)
        files += (i ? ", " : " in ") + cause.fileNames[i];
    items->push_back({std::string(kCauseKeyPrefix) + pdiff::CauseKindName(cause.kind) + files, what + files});
  }
}

// Areas the files and variables already explain, or that the board masks.
bool ExplainedArea(const std::string& name) {
  return name == "masked areas" || name == "BIOS window the board compares";
}

}  // namespace

std::vector<SignatureItem> ChipSignature(const pdiff::Comparison& comparison, bool goldenRegionOnly) {
  // A chip cut short lacks whatever lay in the missing bytes: that it is
  // cut short is its signature, wherever the cut fell.
  if (comparison.whole.length.longer == 0) return {{"length shorter", "shorter than golden (cut short)"}};
  std::vector<SignatureItem> items;
  for (const pdiff::FileChange& change : comparison.files) {
    const char* changeClass = ChangeClass(change);
    if (*changeClass != '\0') items.push_back(FileItem(change, changeClass));
  }
  for (const pdiff::VariableChange& change : comparison.variables.changes) {
    const std::string name = pdiff::EscapedText(change.name);
    const char* changeClass = VariableClass(change.kind);
    items.push_back({"variable " + fwtree::GuidText(change.vendor) + ":" + name + " " + changeClass,
                     "variable " + name + " " + changeClass});
  }
  for (const pdiff::StoreReading& store : comparison.variables.stores)
    if (!store.layout && store.dump == 1)
      items.push_back({"variable store unreadable", "variable store unreadable (" + store.problem + ")"});
  const bool named = !items.empty();
  AddCauseItems(comparison.causes, &items);
  for (const pdiff::AreaDifference& area : comparison.whole.areas) {
    // Bytes the board compares that no file or variable holds (free space,
    // volume headers, damage) are named by their area.
    if (ExplainedArea(area.name) && !(area.name != "masked areas" && !named)) continue;
    items.push_back({"area " + area.name, area.name + " differs"});
  }
  if (comparison.whole.length.longer == 1 && !goldenRegionOnly)
    items.push_back({"length longer", "longer than golden"});
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  return items;
}

SignatureItem UnplacedChip(const std::string& reason) {
  if (reason.find("shorter than one block") != std::string::npos)
    return {"unplaced shorter than one block", "shorter than one block: cannot be placed"};
  if (reason.find("descriptor states") != std::string::npos)
    return {"unplaced not its descriptor's size", "not the size its descriptor states (cut short or damaged)"};
  return {"unplaced", "cannot be placed"};
}

ItemParts SplitItem(const SignatureItem& item) {
  // Longest first: "moved" is the end of no other class, but "changed" is
  // the end of "moved and changed".
  static const char* const kClasses[] = {"readable only on the chip",
                                         "moved and changed",
                                         "deleted in golden",
                                         "unreadable",
                                         "changed",
                                         "missing",
                                         "deleted",
                                         "moved",
                                         "added"};
  const bool named = item.key.rfind("file ", 0) == 0 || item.key.rfind("variable ", 0) == 0;
  const auto endsWith = [](const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
  };
  if (named)
    for (const char* change : kClasses) {
      const std::string end = std::string(" ") + change;
      if (endsWith(item.key, end) && endsWith(item.text, end))
        return {item.key.substr(0, item.key.size() - end.size()), item.text.substr(0, item.text.size() - end.size()),
                change};
    }
  std::string label = item.text;
  if (endsWith(label, " differs")) label.resize(label.size() - 8);
  return {item.key, label, "differs"};
}

}  // namespace fleet
