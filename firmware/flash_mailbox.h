// SPDX-License-Identifier: BSD-2-Clause-Patent
// The 112-byte request and answer buffer of the firmware's SMI flash service.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct FlashMailbox {
  uint32_t Signature;
  uint32_t Command;
  uint64_t Answer;
  uint32_t Arg0;  // Query answer: BiosSize; ReadBlock: window address
  uint32_t Arg1;  // Query answer: BlockSize; ReadBlock: byte count
  uint32_t Arg2;  // Query answer: FlashSize; ReadBlock: destination, low 32 bits
  uint32_t Reserved0;
  uint8_t PartInfo[8];
  char PartName[48];
  uint8_t Reserved1[24];
};
static_assert(sizeof(FlashMailbox) == 112);
static_assert(offsetof(FlashMailbox, Answer) == 8);
static_assert(offsetof(FlashMailbox, Arg0) == 16);
static_assert(offsetof(FlashMailbox, Arg2) == 24);
static_assert(offsetof(FlashMailbox, PartInfo) == 32);
static_assert(offsetof(FlashMailbox, PartName) == 40);

enum class MailboxCommand : uint32_t { Query = 0, ReadBlock = 4, BeginRead = 7, EndRead = 8 };

// Signatures as 32-bit values of their four ASCII bytes in memory order.
constexpr uint32_t kHandshakeSignature = 0x52444224;  // "$BDR"
constexpr uint32_t kSignatureQvt = 0x54565124;        // "$QVT"
constexpr uint32_t kSignatureQv1 = 0x31565124;        // "$QV1"

// Handshake answers, compared as whole 64-bit values.
constexpr uint64_t kAnswerQvt = 0x00000000A55A55AAull;
constexpr uint64_t kAnswerQv1 = 0x000000005AA5AA55ull;

constexpr uint8_t kSmiFlashCommandByte = 0x90;
