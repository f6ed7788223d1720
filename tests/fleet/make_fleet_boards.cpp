// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writes a golden image and a small archive of kit RUN folders built from
// it, for the map and reduce test of pellrix-fleet:
//   DIR/golden.bin, DIR/boards/RUNnnn/{MAIN.BIN,BACKUP.BIN,RESULT.TXT}
//
//   make_fleet_boards DIR
#include <cstdio>
#include <filesystem>

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
  int number = 1;
  for (const auto& kind : kinds) {
    char name[16];
    std::snprintf(name, sizeof name, "RUN%03d", number++);
    fleetsupport::WriteRunFolder(folder / "boards" / name,
                                 {fleetsupport::BuildChip(kind[0]), fleetsupport::BuildChip(kind[1])},
                                 "FAIL comparison=0x8E save-main=0x80 save-backup=0x80 record=0x80\r\n");
  }
  fleetsupport::WriteRunFolder(folder / "boards" / "RUN009", {}, "PASS comparison=0x80\r\n");
  fleetsupport::WriteRunFolder(folder / "boards" / "RUN010", {}, "FAIL comparison=0x8E save-main=none\r\n");
  return 0;
}
