// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/variable_report.h"

#include <iomanip>
#include <set>

#include "diff/compare/comparison.h"
#include "diff/report/escaped_text.h"
#include "diff/compare/text_format.h"
#include "diff/compare/variable_value.h"

namespace pdiff {

namespace {

using nlohmann::json;

const char* Role(int dump) { return dump == 0 ? "Main" : "Backup"; }

json SignatureJson(const SignatureEntry& entry) {
  json item = {{"type", entry.type}, {"owner", entry.owner}, {"sha256", entry.sha256}};
  if (entry.type == "X509") {
    item["subject"] = EscapedText(entry.subject);
    item["issuer"] = EscapedText(entry.issuer);
  }
  return item;
}

json ValueJson(const VariableValue& value) {
  json item = {{"size", value.size},
               {"decoded", value.decoded ? json(EscapedText(*value.decoded)) : json(nullptr)},
               {"hex", value.hex ? json(*value.hex) : json(nullptr)},
               {"sha256", value.sha256 ? json(*value.sha256) : json(nullptr)}};
  if (!value.problem.empty()) item["problem"] = value.problem;
  if (!value.signatures.empty()) {
    json entries = json::array();
    for (const SignatureEntry& entry : value.signatures) entries.push_back(SignatureJson(entry));
    item["signatures"] = entries;
  }
  return item;
}

json CopyJson(const VariableChange& change, const std::optional<VariableCopy>& copy) {
  if (!copy) return nullptr;
  json item = {{"flash_offset", copy->flashOffset},
               {"data_size", copy->dataSize},
               {"attributes", copy->attributes},
               {"state", fwtree::VariableStateName(copy->state)},
               {"value", ValueJson(DescribeValue(change.name, change.vendor, copy->data))}};
  if (copy->authenticated) {
    item["time_stamp"] = EfiTimeText(copy->timeStamp);
    item["monotonic_count"] = copy->monotonicCount;
    item["public_key_index"] = copy->publicKeyIndex;
  }
  return item;
}

// "db: time stamp A -> B; monotonic count 1 -> 2", for a change in the
// authenticated header; empty when the headers agree.
std::string HeaderChangeText(const VariableChange& change) {
  if (!change.main || !change.backup) return "";
  std::string text;
  for (const HeaderChange& field : HeaderChanges(*change.main, *change.backup))
    text += std::string(text.empty() ? "" : "; ") + field.field + " " + EscapedText(field.main) + " -> " +
            EscapedText(field.backup);
  if (text.empty()) return "";
  const bool sameValue =
      change.main->data == change.backup->data && change.main->attributes == change.backup->attributes;
  return EscapedText(change.name) + ": " + text + (sameValue ? " (value and attributes unchanged)" : "");
}

// The entries of `to` that `from` does not hold, by type and digest.
std::vector<const SignatureEntry*> EntriesNotIn(const VariableValue& from, const VariableValue& to) {
  std::set<std::string> held;
  for (const SignatureEntry& entry : from.signatures) held.insert(entry.key());
  std::vector<const SignatureEntry*> missing;
  for (const SignatureEntry& entry : to.signatures)
    if (!held.count(entry.key())) missing.push_back(&entry);
  return missing;
}

std::string SignatureText(const SignatureEntry& entry) {
  if (entry.type == "X509")
    return "X509 subject " + EscapedText(entry.subject) + ", issuer " + EscapedText(entry.issuer) + ", SHA-256 " +
           entry.sha256;
  return entry.type + " " + entry.sha256;
}

std::string ValueText(const VariableValue& value) {
  std::string text;
  if (value.decoded) text = EscapedText(*value.decoded);
  if (!value.problem.empty()) text += (text.empty() ? "" : "; ") + value.problem;
  if (value.hex) text += (text.empty() ? "" : " [") + *value.hex + (text.empty() ? "" : "]");
  if (value.sha256 && text.empty()) text = std::to_string(value.size) + " bytes, SHA-256 " + *value.sha256;
  return text.empty() ? "(empty)" : text;
}

// The values of both sides, and for a signature database what Backup
// added and removed.
void PrintValues(std::ostream& out, const VariableChange& change) {
  std::optional<VariableValue> values[2];
  for (int side = 0; side < 2; ++side) {
    const std::optional<VariableCopy>& copy = side == 0 ? change.main : change.backup;
    if (copy && fwtree::IsLive(copy->state)) values[side] = DescribeValue(change.name, change.vendor, copy->data);
  }
  for (int side = 0; side < 2; ++side)
    if (values[side]) out << "      " << Role(side) << ": " << ValueText(*values[side]) << "\n";
  if (values[0].has_value() != values[1].has_value()) {
    for (const SignatureEntry& entry : (values[0] ? *values[0] : *values[1]).signatures)
      out << "        " << SignatureText(entry) << "\n";
  }
  if (values[0] && values[1]) {
    for (const SignatureEntry* entry : EntriesNotIn(*values[0], *values[1]))
      out << "      added in Backup: " << SignatureText(*entry) << "\n";
    for (const SignatureEntry* entry : EntriesNotIn(*values[1], *values[0]))
      out << "      removed in Backup: " << SignatureText(*entry) << "\n";
  }
}

json AreaJson(const std::optional<StoreReading::Area>& area) {
  if (!area) return nullptr;
  return {{"flash_offset", area->flashOffset}, {"length", area->length}, {"differs", area->differs}};
}

std::string CopyText(const VariableCopy& copy) {
  return std::to_string(copy.dataSize) + " bytes, attributes " + Hex(copy.attributes) + ", flash " +
         Hex(copy.flashOffset);
}

bool SamePlace(const std::optional<StoreReading::Area>& a, const std::optional<StoreReading::Area>& b) {
  return a && b && a->flashOffset == b->flashOffset && a->length == b->length;
}

// Both dumps usually hold the area at one place: it is said once.
void PrintArea(std::ostream& out, const VariableComparison& variables, const StoreReading& store, const char* what,
               std::optional<StoreReading::Area> StoreReading::*member) {
  const std::optional<StoreReading::Area>& area = store.*member;
  if (!area || !area->differs) return;
  if (store.dump == 1)
    for (const StoreReading& other : variables.stores)
      if (other.dump == 0 && SamePlace(other.*member, area)) return;
  out << "  " << Role(store.dump) << "'s " << what << " at flash " << Hex(area->flashOffset) << " ("
      << Hex(area->length) << " bytes) differs from the other dump's bytes there\n";
}

}  // namespace

void PrintVariableSummary(std::ostream& out, const VariableComparison& variables) {
  if (variables.stores.empty()) return;
  const VariableChangeCounts counts = CountVariableChanges(variables.changes);
  out << "Variables: " << counts.changed << " changed, " << counts.onlyInMain << " only in Main, "
      << counts.onlyInBackup << " only in Backup, " << counts.deletedInMain << " deleted in Main, "
      << counts.deletedInBackup << " deleted in Backup";
  uint64_t unread = 0;
  for (const StoreReading& store : variables.stores) unread += store.problem.empty() ? 0 : 1;
  if (unread > 0) out << " (" << unread << (unread == 1 ? " store" : " stores") << " not read)";
  if (variables.movedUnchanged > 0)
    out << "; " << variables.movedUnchanged
        << " unchanged at other places in the store (reclaimed, its records compacted)";
  out << "\n";
}

void PrintVariableChanges(std::ostream& out, const VariableComparison& variables) {
  if (variables.stores.empty()) return;
  out << "\nVariables that differ\n";
  for (const StoreReading& store : variables.stores)
    if (!store.problem.empty())
      out << "  " << Role(store.dump) << "'s variable store at flash " << Hex(store.flashOffset)
          << " not read: " << EscapedText(store.problem) << "; its differences are byte ranges\n";
  if (variables.changes.empty()) out << "  none\n";
  for (const VariableChange& change : variables.changes) {
    out << "  " << std::left << std::setw(18) << VariableChangeName(change.kind) << fwtree::GuidText(change.vendor)
        << ' ' << EscapedText(change.name);
    // A deleted or missing copy has nothing to show: the live side's is shown.
    const bool mainLive =
        change.kind == VariableChangeKind::OnlyInMain || change.kind == VariableChangeKind::DeletedInBackup;
    if (change.kind == VariableChangeKind::Changed)
      out << "  Main " << CopyText(*change.main) << "; Backup " << CopyText(*change.backup);
    else
      out << "  " << CopyText(mainLive ? *change.main : *change.backup);
    out << "\n";
    const std::string header = HeaderChangeText(change);
    if (!header.empty()) out << "      " << header << "\n";
    PrintValues(out, change);
  }
  for (const StoreReading& store : variables.stores) {
    PrintArea(out, variables, store, "fault-tolerant-write working block", &StoreReading::workingBlock);
    PrintArea(out, variables, store, "fault-tolerant-write spare area", &StoreReading::spare);
  }
}

json VariablesJson(const VariableComparison& variables) {
  json list = json::array();
  for (const VariableChange& change : variables.changes) {
    json entry = {{"name", EscapedText(change.name)},
                  {"vendor_guid", fwtree::GuidText(change.vendor)},
                  {"change", VariableChangeName(change.kind)},
                  {"main", CopyJson(change, change.main)},
                  {"backup", CopyJson(change, change.backup)}};
    if (change.main && change.backup) {
      json header = json::array();
      for (const HeaderChange& field : HeaderChanges(*change.main, *change.backup))
        header.push_back({{"field", field.field}, {"main", field.main}, {"backup", field.backup}});
      entry["header_changes"] = header;
      const VariableValue main = DescribeValue(change.name, change.vendor, change.main->data);
      const VariableValue backup = DescribeValue(change.name, change.vendor, change.backup->data);
      if (!main.signatures.empty() || !backup.signatures.empty()) {
        json added = json::array();
        json removed = json::array();
        for (const SignatureEntry* item : EntriesNotIn(main, backup)) added.push_back(SignatureJson(*item));
        for (const SignatureEntry* item : EntriesNotIn(backup, main)) removed.push_back(SignatureJson(*item));
        entry["added"] = added;
        entry["removed"] = removed;
      }
    }
    list.push_back(entry);
  }
  return list;
}

json VariableStoresJson(const VariableComparison& variables) {
  json list = json::array();
  for (const StoreReading& store : variables.stores)
    list.push_back({{"dump", store.dump == 0 ? "main" : "backup"},
                    {"flash_offset", store.flashOffset},
                    {"length", store.length},
                    {"layout", store.layout ? json(fwtree::VariableStoreLayoutName(*store.layout)) : json(nullptr)},
                    {"problem", store.problem.empty() ? json(nullptr) : json(EscapedText(store.problem))},
                    {"working_block", AreaJson(store.workingBlock)},
                    {"spare", AreaJson(store.spare)}});
  return list;
}

json StoreListingJson(const Geometry& geometry, const ChipDump& dump) {
  json list = json::array();
  for (const DumpStore& read : ReadDumpStores(dump)) {
    const fwtree::VariableStore& store = read.store;
    auto flash = [&](uint64_t inVolume) { return FileFlashOffset(geometry, dump, read.fileOffset + inVolume); };
    auto area = [&](const std::optional<fwtree::VolumeArea>& part) {
      return part ? json{{"flash_offset", flash(part->offset)}, {"length", part->length}} : json(nullptr);
    };
    json variables = json::array();
    for (const fwtree::StoredVariable& variable : store.variables)
      variables.push_back({{"name", EscapedText(variable.name)},
                           {"vendor_guid", fwtree::GuidText(variable.vendor)},
                           {"flash_offset", flash(variable.offset)},
                           {"data_size", variable.dataSize},
                           {"attributes", variable.attributes},
                           {"state", fwtree::VariableStateName(variable.state)}});
    const bool wasRead = store.problem.empty();
    list.push_back({{"flash_offset", wasRead ? flash(store.store.offset) : flash(0)},
                    {"length", wasRead ? store.store.length : read.volumeLength},
                    {"layout", wasRead ? json(fwtree::VariableStoreLayoutName(store.layout)) : json(nullptr)},
                    {"problem", wasRead ? json(nullptr) : json(EscapedText(store.problem))},
                    {"variables", wasRead ? variables : json::array()},
                    {"working_block", area(store.workingBlock)},
                    {"spare", area(store.spare)}});
  }
  return list;
}

void AddVariableCounts(json& summary, const VariableComparison& variables) {
  const VariableChangeCounts counts = CountVariableChanges(variables.changes);
  summary["variables_changed"] = counts.changed;
  summary["variables_only_in_main"] = counts.onlyInMain;
  summary["variables_only_in_backup"] = counts.onlyInBackup;
  summary["variables_deleted_in_main"] = counts.deletedInMain;
  summary["variables_deleted_in_backup"] = counts.deletedInBackup;
  summary["variables_moved_unchanged"] = variables.movedUnchanged;
}

}  // namespace pdiff
