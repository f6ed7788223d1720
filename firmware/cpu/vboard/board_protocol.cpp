// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/cpu/vboard/board_protocol.h"

#include "runtime/efi_globals.h"

namespace {
VboardProtocol* located = nullptr;
}

VboardProtocol* VirtualBoard() {
  if (located != nullptr) return located;
  void* interface = nullptr;
  if (EfiError(gBS->LocateProtocol(&kVboardProtocolGuid, nullptr, &interface)) || interface == nullptr) return nullptr;
  auto* board = static_cast<VboardProtocol*>(interface);
  if (board->Revision < kVboardProtocolRevision) return nullptr;
  located = board;
  return located;
}
