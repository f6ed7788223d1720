// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writes a golden image and a small archive of kit RUN folders built from
// it, for the map and reduce test of pellrix-fleet:
//   DIR/golden.bin, DIR/boards/RUNnnn/{MAIN.BIN,BACKUP.BIN,RESULT.TXT}
//
//   make_fleet_boards DIR
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/fleet/fleet_boards.h"

int main(int argc, char** argv) {
  using fleetsupport::ChipVariant;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fleet_boards DIR\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder / "boards");
  fleetsupport::WriteFile(folder / "golden.bin", fleetsupport::BuildChip(ChipVariant::Golden));
  const ChipVariant kinds[][2] = {
      {ChipVariant::Golden, ChipVariant::Golden},          {ChipVariant::Golden, ChipVariant::Golden},
      {ChipVariant::Golden, ChipVariant::DriverChanged},   {ChipVariant::SerialOnly, ChipVariant::Golden},
      {ChipVariant::VariableChanged, ChipVariant::Golden}, {ChipVariant::Golden, ChipVariant::DriverChanged},
      {ChipVariant::Golden, ChipVariant::Golden},          {ChipVariant::DriverChanged, ChipVariant::DriverChanged},
  };
  // Dated as the kit dates its runs: the first half on one day, the rest
  // on the next; one run whose clock was not set. The kit passes a board
  // whose chips are alike.
  int number = 1;
  for (const auto& kind : kinds) {
    char name[16];
    std::snprintf(name, sizeof name, "RUN%03d", number);
    const std::string date = number++ <= 4 ? "2026-03-02 09:15:00" : "2026-03-03 14:40:07";
    fleetsupport::WriteRunFolder(
        folder / "boards" / name, {fleetsupport::BuildChip(kind[0]), fleetsupport::BuildChip(kind[1])},
        std::string(kind[0] == kind[1] ? "PASS comparison=0x80"
                                       : "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80") +
            "\r\ndate=" + date + "\r\n");
  }
  fleetsupport::WriteRunFolder(folder / "boards" / "RUN009", {}, "PASS comparison=0x80\r\ndate=unknown\r\n");
  fleetsupport::WriteRunFolder(folder / "boards" / "RUN010", {},
                               "FAIL comparison=0x8E save-main=none\r\ndate=2026-03-03 15:02:44\r\n");
  return 0;
}
