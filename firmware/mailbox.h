// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SMI flash mailbox: FADT lookup, handshake, geometry query and the
// per-block read requests.
#pragma once

#include "firmware/tool_state.h"
#include "firmware/flash_mailbox.h"
#include "runtime/efi_acpi_sdt.h"

// Finds the ACPI FADT ("FACP") through the ACPI SDT protocol. Sets *table to
// null first; returns 0 with *table set, or the failing status.
EFI_STATUS FindFadt(const EFI_ACPI_SDT_HEADER** table);

// The low half of the FADT's SMI_CMD field; 0 when the table is too short to
// hold it.
uint16_t ReadSmiCommandPort(const EFI_ACPI_SDT_HEADER* fadt);

// Handshake and geometry query. Every output pointer is optional: the 56-byte
// part area (PartInfo then PartName) and the three sizes. Outputs are written
// only on success.
EFI_STATUS QueryFlashMailbox(uint8_t* partArea, uint32_t* flashSize, uint32_t* biosSize, uint32_t* blockSize);

// True when a request may be sent in `buffer` (not null, a command byte and a
// handshake signature exist); the buffer is cleared then.
bool PrepareMailboxRequest(FlashMailbox* buffer);

// BeginRead or EndRead. Nothing is sent without a prior handshake or when no
// request buffer can be had; the result says whether the request went out.
bool SendMailboxCommand(MailboxCommand command);

// One ReadBlock: `length` bytes at window address `address` to `destination`,
// whose physical address must lie below 4 GiB. True when it was sent.
bool SendReadBlock(uint32_t address, uint32_t length, void* destination);
