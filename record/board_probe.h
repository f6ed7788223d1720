// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's answers that do not depend on the active chip.
#pragma once

#include "record/board_record.h"

// MTRRcap's pair count, every variable pair the processor has, CPUID's
// physical width and the KeyID bits. Nothing is written.
void ProbeMtrrs(MtrrRecord* mtrr);

// Vendor, class and subclass of every PCI I/O handle in handle order. False
// when the list cannot be held (no pool memory).
bool ProbePciFunctions(BoardRecord* record);

// Whether the ACPI SDT protocol and a FADT exist, and the FADT's SMI port.
void ProbeAcpi(BoardRecord* record);

// Whether the chip-select protocol exists and claims support, and the raw
// active position (0 without the protocol).
void ProbeChipSelect(BoardRecord* record);
ChipSelectMode ProbeChipSelectMode();

// The mailbox handshake: which signature the firmware answers with.
void ProbeMailbox(BoardRecord* record);
