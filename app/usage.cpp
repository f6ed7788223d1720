// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "app/usage.h"

#include "runtime/print.h"

void PrintBanner() {
  Print("Pellrix BIOS Utility for UEFI SHELL Ver.1.06\n");
  Print("Copyright (c) Pellrix developers. All rights reserved.\n");
  Print("\n");
}

void PrintUsage() {
  Print("Usage:\n\n");
  Print("Pellrix              : Main Backup BIOS Comparison Test\n");
  Print("Pellrix /delay TIMER : Comparison Test, Delay between switching BIOS\n");
  Print("                       TIMER : 0~100 in unit of 0.1sec\n");
  Print("Pellrix /i           : Simple test\n");
  Print("                       - To dump & compare BIOS basic information:\n");
  Print("                         Model name, BIOS version, Part Number,\n");
  Print("                         BIOS Size & Flash part\n");
  Print("Pellrix /p           : Get BIOS Position\n");
  Print("Pellrix /c SELECT    : Change BIOS Position\n");
  Print("                       SELECT : 1 = Main BIOS, 2 = Backup BIOS\n");
  Print("Pellrix /s SELECT    : Save BIOS\n");
  Print("                       SELECT : 1 = Main BIOS, 2 = Backup BIOS\n");
  Print("\n");
}
