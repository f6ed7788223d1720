// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "record/board_json.h"

namespace {

void Key(TextBuffer* json, const char* indent, const char* key) {
  AppendText(json, indent);
  AppendText(json, "\"");
  AppendText(json, key);
  AppendText(json, "\": ");
}

void StringValue(TextBuffer* json, const char* value) {
  AppendText(json, "\"");
  AppendText(json, value);
  AppendText(json, "\"");
}

// `"key": value,` and a line end, for every member that is not the last.
void DecimalMember(TextBuffer* json, const char* indent, const char* key, uint64_t value) {
  Key(json, indent, key);
  AppendDecimal(json, value);
  AppendText(json, ",\n");
}

void StringMember(TextBuffer* json, const char* indent, const char* key, const char* value) {
  Key(json, indent, key);
  StringValue(json, value);
  AppendText(json, ",\n");
}

// A JSON string of the part name. The board file is UTF-8: a byte above 0x7F
// cannot stand for itself and is written as '?'.
void PartNameValue(TextBuffer* json, const char* name) {
  AppendText(json, "\"");
  for (const char* c = name; *c != '\0'; ++c) {
    uint8_t byte = static_cast<uint8_t>(*c);
    char plain[2] = {*c, '\0'};
    if (byte == '"' || byte == '\\') {
      AppendText(json, byte == '"' ? "\\\"" : "\\\\");
    } else if (byte < 0x20) {
      AppendText(json, byte < 0x10 ? "\\u000" : "\\u001");
      plain[0] = "0123456789abcdef"[byte & 0xF];
      AppendText(json, plain);
    } else {
      if (byte >= 0x80) plain[0] = '?';
      AppendText(json, plain);
    }
  }
  AppendText(json, "\"");
}

void WritePci(const BoardRecord& record, TextBuffer* json) {
  Key(json, "  ", "pci");
  AppendText(json, "[");
  for (uint32_t i = 0; i < record.PciCount; ++i) {
    const PciRecord& function = record.Pci[i];
    AppendText(json, i == 0 ? "\n    {" : ",\n    {");
    if (function.HandleProtocolFails) {
      AppendText(json, "\"handle_protocol_fails\": true");
    } else if (function.ClassReadFails) {
      AppendText(json, "\"class_read_fails\": true");
    } else {
      AppendText(json, "\"vendor\": \"");
      AppendHex(json, function.Vendor);
      AppendText(json, "\", \"class\": ");
      AppendDecimal(json, function.BaseClass);
      AppendText(json, ", \"subclass\": ");
      AppendDecimal(json, function.Subclass);
      if (function.VendorReadFails) AppendText(json, ", \"vendor_read_fails\": true");
    }
    AppendText(json, "}");
  }
  AppendText(json, record.PciCount == 0 ? "],\n" : "\n  ],\n");
}

void WriteMtrr(const MtrrRecord& mtrr, TextBuffer* json) {
  AppendText(json, "  \"mtrr\": {\n");
  DecimalMember(json, "    ", "variable_pairs", mtrr.VariablePairs);
  DecimalMember(json, "    ", "phys_address_bits", mtrr.PhysAddressBits);
  DecimalMember(json, "    ", "tme_keyid_bits", mtrr.TmeKeyIdBits);
  // Every non-zero pair; an empty object, not a missing key, when there is
  // none, since a missing key stands for the default pair.
  Key(json, "    ", "pairs");
  AppendText(json, "{");
  bool first = true;
  for (uint32_t pair = 0; pair < mtrr.VariablePairs; ++pair) {
    if (mtrr.Base[pair] == 0 && mtrr.Mask[pair] == 0) continue;
    AppendText(json, first ? "\n      \"" : ",\n      \"");
    first = false;
    AppendDecimal(json, pair);
    AppendText(json, "\": {\"base\": \"");
    AppendHex(json, mtrr.Base[pair]);
    AppendText(json, "\", \"mask\": \"");
    AppendHex(json, mtrr.Mask[pair]);
    AppendText(json, "\"}");
  }
  AppendText(json, first ? "}\n" : "\n    }\n");
  AppendText(json, "  },\n");
}

void WriteChip(const ChipRecord& chip, const char* key, const char* image, TextBuffer* json) {
  Key(json, "    ", key);
  AppendText(json, "{\n");
  if (chip.Unreachable)
    StringMember(json, "      ", "unread", "the switch to this chip did not take effect");
  else
    StringMember(json, "      ", "image", image);
  DecimalMember(json, "      ", "flash_size", chip.FlashSize);
  DecimalMember(json, "      ", "bios_size", chip.BiosSize);
  Key(json, "      ", "block_size");
  AppendDecimal(json, chip.BlockSize);
  if (chip.HasPartName) {
    AppendText(json, ",\n");
    Key(json, "      ", "part_name");
    PartNameValue(json, chip.PartName);
  }
  AppendText(json, "\n    }");
}

}  // namespace

uint32_t BoardJsonCapacity(const BoardRecord& record) {
  constexpr uint32_t kFixedPart = 4096;
  constexpr uint32_t kPerPciFunction = 80;
  constexpr uint32_t kPerMtrrPair = 80;
  return kFixedPart + record.PciCount * kPerPciFunction + record.Mtrr.VariablePairs * kPerMtrrPair;
}

void WriteBoardJson(const BoardRecord& record, TextBuffer* json) {
  AppendText(json, "{\n");
  DecimalMember(json, "  ", "active", record.Active);
  StringMember(json, "  ", "chip_select", SpellingOf(kChipSelectSpellings, record.ChipSelect));
  if (record.SwitchTested) StringMember(json, "  ", "switch", SpellingOf(kSwitchSpellings, record.Switch));
  StringMember(json, "  ", "mailbox", SpellingOf(kMailboxSpellings, record.Mailbox));
  StringMember(json, "  ", "acpi", SpellingOf(kAcpiSpellings, record.Acpi));
  if (record.Acpi == AcpiMode::Present) DecimalMember(json, "  ", "smi_port", record.SmiPort);
  WritePci(record, json);
  WriteMtrr(record.Mtrr, json);
  AppendText(json, "  \"chips\": {\n");
  WriteChip(record.Chips[0], "main", "main.rom", json);
  AppendText(json, ",\n");
  WriteChip(record.Chips[1], "backup", "backup.rom", json);
  AppendText(json, "\n  }\n}\n");
}
