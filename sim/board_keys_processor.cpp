// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "sim/board_keys.h"

namespace sim::board_keys {

using namespace board_json;

namespace {

PciFunction ParsePci(const json& object, const std::string& key) {
  CheckKeys(object, key,
            {"vendor", "class", "subclass", "handle_protocol_fails", "class_read_fails", "vendor_read_fails"});
  PciFunction function;
  if (object.contains("vendor"))
    function.vendor = static_cast<uint16_t>(Integer(object["vendor"], key + ".vendor", 0xFFFF));
  if (object.contains("class"))
    function.base_class = static_cast<uint8_t>(Integer(object["class"], key + ".class", 0xFF));
  if (object.contains("subclass"))
    function.subclass = static_cast<uint8_t>(Integer(object["subclass"], key + ".subclass", 0xFF));
  if (object.contains("handle_protocol_fails"))
    function.handle_protocol_fails = Flag(object["handle_protocol_fails"], key + ".handle_protocol_fails");
  if (object.contains("class_read_fails"))
    function.class_read_fails = Flag(object["class_read_fails"], key + ".class_read_fails");
  if (object.contains("vendor_read_fails"))
    function.vendor_read_fails = Flag(object["vendor_read_fails"], key + ".vendor_read_fails");
  return function;
}

void ParseMtrr(const json& object, Board* board) {
  CheckKeys(object, "mtrr", {"variable_pairs", "phys_address_bits", "tme_keyid_bits", "pairs"});
  if (object.contains("variable_pairs"))
    board->mtrr_variable_pairs = static_cast<uint32_t>(Integer(object["variable_pairs"], "mtrr.variable_pairs", 255));
  if (object.contains("phys_address_bits")) {
    board->phys_address_bits =
        static_cast<uint32_t>(Integer(object["phys_address_bits"], "mtrr.phys_address_bits", 64));
    if (board->phys_address_bits < 32) Problem("mtrr.phys_address_bits", "must be at least 32");
  }
  if (object.contains("tme_keyid_bits"))
    board->tme_keyid_bits = static_cast<uint32_t>(Integer(object["tme_keyid_bits"], "mtrr.tme_keyid_bits", 15));
  if (board->tme_keyid_bits >= board->phys_address_bits)
    Problem("mtrr.tme_keyid_bits", "must be smaller than mtrr.phys_address_bits");
  if (object.contains("pairs")) {
    const json& pairs = object["pairs"];
    if (!pairs.is_object()) Problem("mtrr.pairs", "expected an object keyed by pair number");
    board->mtrr_pairs.clear();
    for (const auto& item : pairs.items()) {
      std::string key = "mtrr.pairs." + item.key();
      if (item.key().empty() || item.key().find_first_not_of("0123456789") != std::string::npos ||
          item.key().size() > 3)
        Problem(key, "pair numbers are decimal integers");
      CheckKeys(item.value(), key, {"base", "mask"});
      MtrrPair pair;
      if (item.value().contains("base")) pair.base = Integer(item.value()["base"], key + ".base", ~0ull);
      if (item.value().contains("mask")) pair.mask = Integer(item.value()["mask"], key + ".mask", ~0ull);
      board->mtrr_pairs[static_cast<unsigned>(std::stoul(item.key()))] = pair;
    }
  }
}

}  // namespace

void ParseProcessorKeys(const json& root, Board* board) {
  if (root.contains("pci")) {
    if (!root["pci"].is_array()) Problem("pci", "expected an array");
    board->pci.clear();
    for (size_t i = 0; i < root["pci"].size(); ++i)
      board->pci.push_back(ParsePci(root["pci"][i], "pci[" + std::to_string(i) + "]"));
  }
  if (root.contains("mtrr")) ParseMtrr(root["mtrr"], board);
}

}  // namespace sim::board_keys
