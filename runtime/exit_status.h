// SPDX-License-Identifier: BSD-2-Clause-Patent
// The utility's exit statuses, each with its name and what it means in
// words: the one table the utility, the field kit and the workstation's
// explain step read.
#pragma once

#include <stdint.h>

enum class ExitStatus : uint32_t {
  Success = 128,
  NotSupported = 130,
  InvalidCommand = 131,
  SwitchFailed = 132,
  OutOfMemory = 133,
  FlashInitFailed = 134,
  FlashSizeMismatch = 135,
  FlashTypeMismatch = 136,
  BlockSizeMismatch = 137,
  BiosSizeMismatch = 138,
  ModelNameMismatch = 139,
  VersionMismatch = 140,
  PartNumberMismatch = 141,
  DataMismatch = 142,
  OnMain = 145,
  OnBackup = 146,
};

struct ExitStatusEntry {
  ExitStatus Status;
  const char* Name;     // "DataMismatch"
  const char* Meaning;  // "the chips' contents differ", as a comparison's outcome
};

inline constexpr ExitStatusEntry kExitStatuses[] = {
    {ExitStatus::Success, "Success", "the two chips match"},
    {ExitStatus::NotSupported, "NotSupported", "the chips could not be sized or read"},
    {ExitStatus::InvalidCommand, "InvalidCommand", "invalid command"},
    {ExitStatus::SwitchFailed, "SwitchFailed", "the switch between chips failed"},
    {ExitStatus::OutOfMemory, "OutOfMemory", "out of memory"},
    {ExitStatus::FlashInitFailed, "FlashInitFailed", "flash initialisation failed"},
    {ExitStatus::FlashSizeMismatch, "FlashSizeMismatch", "the flash sizes differ"},
    {ExitStatus::FlashTypeMismatch, "FlashTypeMismatch", "the flash types differ"},
    {ExitStatus::BlockSizeMismatch, "BlockSizeMismatch", "the block sizes differ"},
    {ExitStatus::BiosSizeMismatch, "BiosSizeMismatch", "the BIOS sizes differ"},
    {ExitStatus::ModelNameMismatch, "ModelNameMismatch", "the model names differ"},
    {ExitStatus::VersionMismatch, "VersionMismatch", "the versions differ"},
    {ExitStatus::PartNumberMismatch, "PartNumberMismatch", "the part numbers differ"},
    {ExitStatus::DataMismatch, "DataMismatch", "the chips' contents differ"},
    {ExitStatus::OnMain, "OnMain", "the board runs from Main"},
    {ExitStatus::OnBackup, "OnBackup", "the board runs from Backup"},
};

constexpr uint32_t StatusValue(ExitStatus status) { return static_cast<uint32_t>(status); }

// The table's entry for `status`, or null for a value not listed.
constexpr const ExitStatusEntry* FindExitStatus(uint32_t status) {
  for (const ExitStatusEntry& entry : kExitStatuses)
    if (StatusValue(entry.Status) == status) return &entry;
  return nullptr;
}

// The status's name ("DataMismatch"); "Unknown" for a value not listed.
constexpr const char* ExitStatusName(uint32_t status) {
  const ExitStatusEntry* entry = FindExitStatus(status);
  return entry != nullptr ? entry->Name : "Unknown";
}
