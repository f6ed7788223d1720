// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/variable_report.h"

#include <iomanip>

#include "diff/compare/comparison.h"
#include "diff/report/escaped_text.h"
#include "diff/compare/text_format.h"

namespace pdiff {

namespace {

using nlohmann::json;

const char* Role(int dump) { return dump == 0 ? "Main" : "Backup"; }

json CopyJson(const std::optional<VariableCopy>& copy) {
  if (!copy) return nullptr;
  return {{"flash_offset", copy->flashOffset},
          {"data_size", copy->dataSize},
          {"attributes", copy->attributes},
          {"state", fwtree::VariableStateName(copy->state)}};
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
  }
  for (const StoreReading& store : variables.stores) {
    PrintArea(out, variables, store, "fault-tolerant-write working block", &StoreReading::workingBlock);
    PrintArea(out, variables, store, "fault-tolerant-write spare area", &StoreReading::spare);
  }
}

json VariablesJson(const VariableComparison& variables) {
  json list = json::array();
  for (const VariableChange& change : variables.changes)
    list.push_back({{"name", EscapedText(change.name)},
                    {"vendor_guid", fwtree::GuidText(change.vendor)},
                    {"change", VariableChangeName(change.kind)},
                    {"main", CopyJson(change.main)},
                    {"backup", CopyJson(change.backup)}});
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
}

}  // namespace pdiff
