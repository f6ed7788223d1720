// SPDX-License-Identifier: BSD-2-Clause-Patent
// EDK2 variable stores read from generated volumes (both header layouts,
// hostile sizes, the fault-tolerant-write areas beside them) and compared
// by pellrix-diff variable by variable. Debian's OVMF stores are held
// against UEFIExtract by tools/uefiextract_compare.py (CTest
// diff_ovmf_variables_*).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

#include "diff/compare/variable_changes.h"
#include "fwtree/variable_store.h"
#include "image/layout.h"
#include "sim/image_builder.h"
#include "tests/support/diff_support.h"
#include "tests/support/sim_support.h"

namespace {

using fwtree::VariableStoreLayout;
using sim::Bytes;

constexpr uint64_t kStoreAt = sim::kVolumeHeaderLength;
const fwtree::Guid kVendor = fwtree::GuidFromText("8BE4DF61-93CA-11D2-AA0D-00E098032B8C");

void Put32(Bytes& bytes, size_t at, uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

struct VariableSpec {
  VariableSpec(std::u16string name, Bytes data, uint8_t state = fwtree::kVariableAdded, uint32_t attributes = 7,
               std::optional<uint32_t> nameSize = {}, std::optional<uint32_t> dataSize = {})
      : name(std::move(name)),
        data(std::move(data)),
        state(state),
        attributes(attributes),
        nameSize(nameSize),
        dataSize(dataSize) {}
  std::u16string name;
  Bytes data;
  uint8_t state;
  uint32_t attributes;
  std::optional<uint32_t> nameSize;  // as stored, when not the name's own
  std::optional<uint32_t> dataSize;
};

Bytes Variable(VariableStoreLayout layout, const VariableSpec& spec) {
  const bool authenticated = layout == VariableStoreLayout::Authenticated;
  const size_t header = authenticated ? 60 : 32;
  Bytes bytes(header, 0);
  bytes[0] = 0xAA;
  bytes[1] = 0x55;
  bytes[2] = spec.state;
  Put32(bytes, 4, spec.attributes);
  if (authenticated) bytes[8] = 0x11;  // a monotonic count the plain layout has no room for
  const size_t name = (spec.name.size() + 1) * 2;
  Put32(bytes, header - 24, spec.nameSize.value_or(uint32_t(name)));
  Put32(bytes, header - 20, spec.dataSize.value_or(uint32_t(spec.data.size())));
  std::memcpy(bytes.data() + header - 16, kVendor.data(), 16);
  for (char16_t unit : spec.name + u'\0') bytes.insert(bytes.end(), {uint8_t(unit), uint8_t(unit >> 8)});
  bytes.insert(bytes.end(), spec.data.begin(), spec.data.end());
  while (bytes.size() % 4 != 0) bytes.push_back(0xFF);
  return bytes;
}

// A non-volatile data volume of `length` bytes whose store (of `storeSize`
// bytes as its header claims) holds the variables.
Bytes StoreVolume(VariableStoreLayout layout, const std::vector<VariableSpec>& variables, uint32_t storeSize = 0x1000,
                  uint64_t length = 0x4000) {
  sim::VolumeSpec spec;
  spec.length = length;
  spec.file_system = fwtree::kSystemNvDataFileSystem;
  Bytes volume = sim::BuildVolume(spec);
  const fwtree::Guid& signature = layout == VariableStoreLayout::Authenticated
                                      ? fwtree::kAuthenticatedVariableStoreSignature
                                      : fwtree::kVariableStoreSignature;
  std::memcpy(volume.data() + kStoreAt, signature.data(), 16);
  Put32(volume, kStoreAt + 16, storeSize);
  volume[kStoreAt + 20] = 0x5A;
  volume[kStoreAt + 21] = 0xFE;
  std::memset(volume.data() + kStoreAt + 22, 0, 6);
  size_t at = kStoreAt + 28;
  for (const VariableSpec& variable : variables) {
    const Bytes bytes = Variable(layout, variable);
    std::copy(bytes.begin(), bytes.end(), volume.begin() + long(at));
    at += bytes.size();
  }
  return volume;
}

// Catches: a field read at the other layout's offset, a header taken at an
// unaligned offset after an odd-sized name or data, a deleted copy dropped.
TEST(VariableStore, ReadsBothLayoutsAtTheirAlignment) {
  for (VariableStoreLayout layout : {VariableStoreLayout::Plain, VariableStoreLayout::Authenticated}) {
    const std::vector<VariableSpec> specs = {{u"Lang", {'e', 'n', 'g'}},
                                             {u"PK", Bytes(5, 0xA5), fwtree::kVariableAdded & fwtree::kVariableDeleted},
                                             {u"\u00C9t\u00E9", {1}, fwtree::kVariableAdded, 0x27}};
    const Bytes volume = StoreVolume(layout, specs);
    const fwtree::VariableStore store = fwtree::ReadVariableStore(volume.data(), volume.size());
    SCOPED_TRACE(fwtree::VariableStoreLayoutName(layout));
    ASSERT_EQ(store.problem, "");
    EXPECT_EQ(store.layout, layout);
    ASSERT_EQ(store.variables.size(), 3u);
    uint64_t at = kStoreAt + 28;
    const char* names[] = {"Lang", "PK", "\xC3\x89t\xC3\xA9"};
    for (size_t i = 0; i < 3; ++i) {
      const fwtree::StoredVariable& variable = store.variables[i];
      EXPECT_EQ(variable.offset, at);
      EXPECT_EQ(variable.name, names[i]);
      EXPECT_EQ(variable.vendor, kVendor);
      EXPECT_EQ(variable.state, specs[i].state);
      EXPECT_EQ(variable.attributes, specs[i].attributes);
      EXPECT_EQ(Bytes(variable.data, variable.data + variable.dataSize), specs[i].data);
      at += Variable(layout, specs[i]).size();
    }
    EXPECT_EQ(store.variables[0].monotonicCount, layout == VariableStoreLayout::Authenticated ? 0x11u : 0u);
    EXPECT_EQ(store.variablesEnd, at);
    EXPECT_EQ(fwtree::VariableStateName(store.variables[1].state), "deleted");
  }
}

// Catches: a read past the store or the volume when a header's sizes (or
// the store's own) run past them; each is a reason, and the buffer is
// exactly the volume, so the sanitizer builds see any read beyond it. Also
// a store that is formatted but not healthy (or the reverse) read as one.
TEST(VariableStore, HostileSizesAreReasonsNotReads) {
  struct Case {
    const char* fault;
    Bytes volume;
    const char* reason;
  };
  const auto plain = VariableStoreLayout::Plain;
  const auto authenticated = VariableStoreLayout::Authenticated;
  Bytes foreign = StoreVolume(plain, {});
  foreign[kStoreAt] ^= 0xFF;
  Bytes notHealthy = StoreVolume(plain, {});
  notHealthy[kStoreAt + 21] = 0xFC;  // formatted, but its state bits say it is not healthy
  Bytes notFormatted = StoreVolume(plain, {});
  notFormatted[kStoreAt + 20] = 0xFF;
  Bytes shortHeader = StoreVolume(plain, {});
  shortHeader[image_layout::kFvHeaderLength] = 0xF0;  // 0x3FF0 bytes of volume header
  shortHeader[image_layout::kFvHeaderLength + 1] = 0x3F;
  const std::vector<Case> cases = {
      {"name past the store", StoreVolume(plain, {{u"A", {1}, 0x3F, 7, 0x2000}}), "past the store's end"},
      {"data past the store", StoreVolume(authenticated, {{u"A", {1}, 0x3F, 7, {}, 0xFC0}}), "past the store's end"},
      {"sizes that wrap in 32 bits", StoreVolume(plain, {{u"A", {1}, 0x3F, 7, 0xFFFFFFFF, 0xFFFFFFFF}}),
       "past the store's end"},
      {"store larger than its volume", StoreVolume(plain, {}, 0x3FB9), "its volume holds 16312"},
      {"store smaller than its header", StoreVolume(plain, {}, 27), "claims 27 bytes"},
      {"volume header longer than the volume", shortHeader, "no room for a store header"},
      {"volume shorter than its header", Bytes(40, 0xFF), "shorter than its own header"},
      {"another store format", foreign, "not an EDK2 variable store"},
      {"formatted, not healthy", notHealthy, "not formatted and healthy"},
      {"healthy, not formatted", notFormatted, "not formatted and healthy"},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.fault);
    const fwtree::VariableStore store = fwtree::ReadVariableStore(item.volume.data(), item.volume.size());
    EXPECT_NE(store.problem.find(item.reason), std::string::npos) << store.problem;
  }
}

// A store ending at 0x1000, a false working block at 0x1800 (its queue runs
// past the volume), the working block at 0x2000 and its spare from 0x3000,
// holding a copy of the store.
Bytes VolumeWithWorkingBlock() {
  Bytes volume = StoreVolume(VariableStoreLayout::Authenticated, {{u"Timeout", {5, 0}}}, 0x1000 - kStoreAt, 0x4000);
  std::copy(volume.begin(), volume.begin() + 0x1000, volume.begin() + 0x3000);
  std::memcpy(volume.data() + 0x1800, fwtree::kWorkingBlockSignature.data(), 16);
  Put32(volume, 0x1800 + 24, 0x3000);
  std::memcpy(volume.data() + 0x2000, fwtree::kWorkingBlockSignature.data(), 16);
  Put32(volume, 0x2000 + 24, 0x1000 - 32);
  Put32(volume, 0x2000 + 28, 0);
  return volume;
}

// Catches: the working block or its spare (which may hold a whole copy of
// the store) read as variables, and a working block whose write queue runs
// past the volume taken as one.
TEST(VariableStore, WorkingBlockAndSpareAreNotVariables) {
  const Bytes volume = VolumeWithWorkingBlock();
  const fwtree::VariableStore store = fwtree::ReadVariableStore(volume.data(), volume.size());
  ASSERT_EQ(store.problem, "");
  EXPECT_EQ(store.variables.size(), 1u);
  ASSERT_TRUE(store.workingBlock && store.spare);
  EXPECT_EQ(store.workingBlock->offset, 0x2000u);
  EXPECT_EQ(store.workingBlock->length, 0x1000u);
  EXPECT_EQ(store.spare->offset, 0x3000u);
  EXPECT_EQ(store.spare->length, 0x1000u);
}

// Catches: the working block that older firmware signs with the volume's
// file system GUID not recognised, so its spare's copy of the store is
// left to be read as something else.
TEST(VariableStore, TheWorkingBlocksOlderSignatureIsRecognised) {
  Bytes volume = VolumeWithWorkingBlock();
  std::memset(volume.data() + 0x1800, 0xFF, 16);  // no false block before it
  std::memcpy(volume.data() + 0x2000, fwtree::kSystemNvDataFileSystem.data(), 16);
  const fwtree::VariableStore store = fwtree::ReadVariableStore(volume.data(), volume.size());
  ASSERT_TRUE(store.workingBlock && store.spare);
  EXPECT_EQ(store.workingBlock->offset, 0x2000u);
  EXPECT_EQ(store.spare->offset, 0x3000u);
}

class VariableChanges : public ::testing::Test {
 protected:
  nlohmann::json Compare(const Bytes& main, const Bytes& backup) {
    support::WriteBytes(scratch_.path() / "main.bin", main);
    support::WriteBytes(scratch_.path() / "backup.bin", backup);
    return support::DiffJson(scratch_.path() / "main.bin", scratch_.path() / "backup.bin");
  }
  support::TempDir scratch_;
};

// Catches: a stale copy (deleted, or half-way replaced) compared instead of
// the one the firmware reads, a deletion called a removal, attributes
// ignored, and a name printed unescaped.
TEST_F(VariableChanges, NamedByTheCopyTheFirmwareReads) {
  const auto layout = VariableStoreLayout::Authenticated;
  const uint8_t added = fwtree::kVariableAdded;
  const uint8_t replaced = added & fwtree::kVariableInDeletedTransition;
  const uint8_t deleted = replaced & fwtree::kVariableDeleted;
  const Bytes main = StoreVolume(layout, {{u"Renewed", {1}},
                                          {u"Removed", {2}},
                                          {u"Kept", {3}},
                                          {u"Locked", {4}},
                                          {u"Gone", {5}, deleted},
                                          {u"Back", {6}, deleted},
                                          {u"Esc\x1B", {7}}});
  // The added copy wins wherever it lies, also before the one it replaces.
  const Bytes backup = StoreVolume(layout, {{u"Renewed", {9}},
                                            {u"Renewed", {1}, replaced},
                                            {u"Removed", {2}, deleted},
                                            {u"Kept", {3}, replaced},
                                            {u"Locked", {4}, added, 0x27},
                                            {u"Back", {6}},
                                            {u"New", {8}}});
  const nlohmann::json report = Compare(main, backup);
  std::map<std::string, std::string> changes;
  for (const auto& entry : report["variables"]) {
    EXPECT_EQ(entry["vendor_guid"], "8BE4DF61-93CA-11D2-AA0D-00E098032B8C");
    changes[entry["name"]] = entry["change"];
  }
  const std::map<std::string, std::string> expected = {{"Renewed", "changed"},       {"Removed", "deleted in Backup"},
                                                       {"Locked", "changed"},        {"Back", "deleted in Main"},
                                                       {"Esc\\x1B", "only in Main"}, {"New", "only in Backup"}};
  EXPECT_EQ(changes, expected);
  const nlohmann::json& renewed = report["variables"][0];
  EXPECT_EQ(renewed["backup"]["state"], "added");
  EXPECT_EQ(renewed["backup"]["flash_offset"], kStoreAt + 28);
  EXPECT_EQ(report["summary"]["variables_changed"], 2);
  EXPECT_EQ(report["summary"]["variables_deleted_in_backup"], 1);
}

// An EFI_TIME's bytes.
std::array<uint8_t, 16> Time(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                             unsigned second, uint32_t nanosecond = 0, int16_t zone = 0) {
  std::array<uint8_t, 16> time{uint8_t(year), uint8_t(year >> 8), uint8_t(month), uint8_t(day),
                               uint8_t(hour), uint8_t(minute),    uint8_t(second)};
  std::memcpy(time.data() + 8, &nanosecond, 4);
  std::memcpy(time.data() + 12, &zone, 2);
  return time;
}

// Catches a re-signed variable (its authenticated header changed, its value
// not) read as no change, and a header field read from the wrong offset:
// every combination of time stamp, monotonic count and public-key index
// changed alone or with the value, each named with both sides' values in
// the JSON and the text and counted as changed.
TEST_F(VariableChanges, AChangeOfTheAuthenticatedHeaderAloneIsNamed) {
  const auto layout = VariableStoreLayout::Authenticated;
  const size_t header = kStoreAt + 28;  // the first variable's
  const std::array<uint8_t, 16> before = Time(2013, 9, 20, 7, 12, 55);
  const std::array<uint8_t, 16> after = Time(2024, 1, 31, 23, 59, 58, 5, 60);
  const struct {
    const char* field;
    size_t at;
    std::string main;
    std::string backup;
  } fields[] = {{"time stamp", 16, "2013-09-20 07:12:55", "2024-01-31 23:59:58.000000005 (time zone +60 min)"},
                {"monotonic count", 8, "17", "273"},
                {"public-key index", 32, "0", "3"}};
  for (int mask = 0; mask < 8; ++mask) {
    for (const bool valueChanged : {false, true}) {
      Bytes main = StoreVolume(layout, {{u"Signed", {1, 2, 3}}, {u"Other", {4}}});
      Bytes backup = StoreVolume(layout, {{u"Signed", {1, 2, uint8_t(valueChanged ? 9 : 3)}}, {u"Other", {4}}});
      std::memcpy(main.data() + header + 16, before.data(), 16);
      std::memcpy(backup.data() + header + 16, before.data(), 16);
      if (mask & 1) std::memcpy(backup.data() + header + 16, after.data(), 16);
      if (mask & 2) backup[header + 9] = 0x01;  // count 0x111
      if (mask & 4) backup[header + 32] = 3;
      const nlohmann::json report = Compare(main, backup);
      const std::string label = "mask " + std::to_string(mask) + (valueChanged ? ", value changed" : "");
      if (mask == 0 && !valueChanged) {
        EXPECT_EQ(report["variables"], nlohmann::json::array()) << label;
        continue;
      }
      ASSERT_EQ(report["variables"].size(), 1u) << label << report["variables"];
      const nlohmann::json& signed_ = report["variables"][0];
      EXPECT_EQ(signed_["change"], "changed") << label;
      EXPECT_EQ(report["summary"]["variables_changed"], 1) << label;
      EXPECT_EQ(signed_["main"]["time_stamp"], fields[0].main) << label;
      nlohmann::json expected = nlohmann::json::array();
      std::string named;
      for (int bit = 0; bit < 3; ++bit) {
        if (!(mask & 1 << bit)) continue;
        expected.push_back({{"field", fields[bit].field}, {"main", fields[bit].main}, {"backup", fields[bit].backup}});
        named += (named.empty() ? "" : "; ") + std::string(fields[bit].field) + " " + fields[bit].main + " -> " +
                 fields[bit].backup;
      }
      EXPECT_EQ(signed_["header_changes"], expected) << label;
      const std::string text =
          support::RunDiff({(scratch_.path() / "main.bin").string(), (scratch_.path() / "backup.bin").string()}).out;
      EXPECT_NE(text.find("Variables: 1 changed"), std::string::npos) << label << text;
      if (mask != 0) {
        EXPECT_NE(text.find("      Signed: " + named + (valueChanged ? "\n" : " (value and attributes unchanged)\n")),
                  std::string::npos)
            << label << text;
      }
    }
  }
}

// Catches a time stamp shown as a date it is not: zero, and fields out of
// range, are said as such.
TEST(EfiTimeText, ZeroAndImpossibleTimesAreSaid) {
  EXPECT_EQ(pdiff::EfiTimeText({}), "none (zero)");
  EXPECT_EQ(pdiff::EfiTimeText(Time(2024, 2, 29, 0, 0, 0, 0, 0x7FF)), "2024-02-29 00:00:00");
  EXPECT_EQ(pdiff::EfiTimeText(Time(2024, 13, 1, 0, 0, 0)),
            "not a time: e8 07 0d 01 00 00 00 00 00 00 00 00 00 00 00 00");
}

// Catches variables paired by their names up to the first NUL: the whole
// name the header sizes tells them apart, and the report shows all of it.
TEST_F(VariableChanges, NamesThatAgreeOnlyUpToAnInnerNulAreTwoVariables) {
  const auto layout = VariableStoreLayout::Plain;
  const Bytes main = StoreVolume(layout, {{std::u16string(u"Boot\0XYZ", 8), {1}}, {u"Same", {2}}});
  const Bytes backup = StoreVolume(layout, {{std::u16string(u"Boot\0QQQ", 8), {1}}, {u"Same", {2}}});
  const nlohmann::json report = Compare(main, backup);
  std::map<std::string, std::string> changes;
  for (const auto& entry : report["variables"]) changes[entry["name"]] = entry["change"];
  const std::map<std::string, std::string> expected = {{"Boot\\x00XYZ", "only in Main"},
                                                       {"Boot\\x00QQQ", "only in Backup"}};
  EXPECT_EQ(changes, expected);
}

// Catches a reclaimed store read as changes: the same variables compacted
// into another order are no change, and the summary says they moved.
TEST_F(VariableChanges, AReclaimedStoreIsNoChangeAndIsSaid) {
  const auto layout = VariableStoreLayout::Authenticated;
  const uint8_t deleted = fwtree::kVariableAdded & fwtree::kVariableInDeletedTransition & fwtree::kVariableDeleted;
  const Bytes main = StoreVolume(layout, {{u"Lang", {'e', 'n', 'g'}}, {u"Old", {1}, deleted}, {u"Timeout", {5, 0}}});
  const Bytes backup = StoreVolume(layout, {{u"Timeout", {5, 0}}, {u"Lang", {'e', 'n', 'g'}}});
  const nlohmann::json report = Compare(main, backup);
  EXPECT_EQ(report["variables"], nlohmann::json::array()) << report["variables"];
  EXPECT_EQ(report["summary"]["variables_moved_unchanged"], 2);
  EXPECT_EQ(report["summary"]["variables_changed"], 0);
}

// Catches: a difference in the spare area taken for a variable, or the
// areas' bytes compared at the wrong place.
TEST_F(VariableChanges, FaultTolerantWriteAreasAreNamedNotVariables) {
  Bytes backup = VolumeWithWorkingBlock();
  backup[0x3000 + kStoreAt + 28 + 60 + 16] ^= 1;  // Timeout's data in the spare's copy
  const nlohmann::json report = Compare(VolumeWithWorkingBlock(), backup);
  EXPECT_EQ(report["variables"], nlohmann::json::array());
  ASSERT_EQ(report["variable_stores"].size(), 2u);
  for (const auto& store : report["variable_stores"]) {
    EXPECT_EQ(store["working_block"]["differs"], false);
    EXPECT_EQ(store["spare"]["flash_offset"], 0x3000);
    EXPECT_EQ(store["spare"]["differs"], true);
  }
}

// Catches: variables listed from a store that could not be read to its end
// (every one would look only in Main), or its bytes no longer reported.
TEST_F(VariableChanges, StoreNotReadStaysOneRangeWithItsReason) {
  const auto layout = VariableStoreLayout::Plain;
  const nlohmann::json report = Compare(StoreVolume(layout, {{u"A", {1}}, {u"B", {2}}}),
                                        StoreVolume(layout, {{u"A", {1}}, {u"B", {3}, 0x3F, 7, {}, 0x5000}}));
  EXPECT_EQ(report["variables"], nlohmann::json::array());
  ASSERT_EQ(report["variable_stores"].size(), 2u);
  EXPECT_EQ(report["variable_stores"][0]["problem"], nullptr);
  EXPECT_NE(report["variable_stores"][1]["problem"].get<std::string>().find("past the store's end"), std::string::npos);
  ASSERT_FALSE(report["differences"].empty());
  const nlohmann::json placed = support::Placed(report);
  for (const auto& range : placed["differences"]) EXPECT_EQ(range["kind"], "variable store");
}

}  // namespace
