// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_keys.h"

namespace sim::board_keys {

using namespace board_json;

void ParseFirmwareKeys(const json& root, Board* board) {
  if (root.contains("active")) {
    const json& active = root["active"];
    if (active.is_string() && active.get<std::string>() == "main")
      board->active = 0;
    else if (active.is_string() && active.get<std::string>() == "backup")
      board->active = 1;
    else if (active.is_number() || IsHexadecimal(active))
      board->active = static_cast<uint8_t>(Integer(active, "active", 255));
    else
      Problem("active", "expected \"main\", \"backup\" or an integer 0..255");
  }
  if (root.contains("chip_select"))
    board->chip_select = Choice(root["chip_select"], "chip_select", kChipSelectSpellings);
  if (root.contains("is_supported"))
    board->is_supported_value = static_cast<uint8_t>(Integer(root["is_supported"], "is_supported", 255));
  if (root.contains("switch")) board->switch_mode = Choice(root["switch"], "switch", kSwitchSpellings);
  if (root.contains("mailbox")) board->mailbox = Choice(root["mailbox"], "mailbox", kMailboxSpellings);
  if (root.contains("acpi")) board->acpi = Choice(root["acpi"], "acpi", kAcpiSpellings);
  if (root.contains("smi_port")) board->smi_port = static_cast<uint16_t>(Integer(root["smi_port"], "smi_port", 0xFFFF));
}

}  // namespace sim::board_keys
