// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board description's vocabulary: the modes a board's firmware can be in
// and how the board file spells them. The recorder writes board files with it,
// the simulator and the virtual board read them with it; freestanding, so the
// board model inside vboard.efi shares it too.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The chip-select protocol: there and supported, not there, or answering
// that it is not supported.
enum class ChipSelectMode : uint8_t { Present, Absent, Unsupported };
// A chip switch: works, never changes the chip, or ignores requests for one
// chip.
enum class SwitchMode : uint8_t { Ok, Stuck, IgnoreMain, IgnoreBackup };
// The flash mailbox's handshake answer, or no handler at all.
enum class MailboxMode : uint8_t { Qvt, Qv1, None };
// The ACPI tables: there, not there at all, or without a FADT.
enum class AcpiMode : uint8_t { Present, Absent, NoFacp };

template <typename Mode>
struct Spelling {
  Mode mode;
  const char* text;
};

inline constexpr Spelling<ChipSelectMode> kChipSelectSpellings[] = {{ChipSelectMode::Present, "present"},
                                                                    {ChipSelectMode::Absent, "absent"},
                                                                    {ChipSelectMode::Unsupported, "unsupported"}};
inline constexpr Spelling<SwitchMode> kSwitchSpellings[] = {{SwitchMode::Ok, "ok"},
                                                            {SwitchMode::Stuck, "stuck"},
                                                            {SwitchMode::IgnoreMain, "ignore-main"},
                                                            {SwitchMode::IgnoreBackup, "ignore-backup"}};
inline constexpr Spelling<MailboxMode> kMailboxSpellings[] = {
    {MailboxMode::Qvt, "qvt"}, {MailboxMode::Qv1, "qv1"}, {MailboxMode::None, "none"}};
inline constexpr Spelling<AcpiMode> kAcpiSpellings[] = {
    {AcpiMode::Present, "present"}, {AcpiMode::Absent, "absent"}, {AcpiMode::NoFacp, "no-facp"}};

// The board file's word for `mode`; the table's first (the default) for a
// value outside it.
template <typename Mode, size_t N>
constexpr const char* SpellingOf(const Spelling<Mode> (&table)[N], Mode mode) {
  for (const Spelling<Mode>& spelling : table)
    if (spelling.mode == mode) return spelling.text;
  return table[0].text;
}

// The last mode of each kind, for checks of raw values.
inline constexpr SwitchMode kLastSwitchMode = SwitchMode::IgnoreBackup;
inline constexpr MailboxMode kLastMailboxMode = MailboxMode::None;
inline constexpr AcpiMode kLastAcpiMode = AcpiMode::NoFacp;
