// SPDX-License-Identifier: BSD-2-Clause-Patent
// The simulated dual-chip board: what a board description file says.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/board_vocabulary.h"

namespace sim {

// An image file mapped read-only (and copy-on-write) into memory, so that large
// chip images cost no copy when a board is loaded.
struct MappedImage {
  const uint8_t* bytes = nullptr;
  uint64_t size = 0;
  std::string path;  // where it was mapped from, so a run never writes over it
  ~MappedImage();
};

// The largest part the mailbox's 32-bit FlashSize can report.
constexpr uint64_t kMaxPartSize = 0xFFFFFFFFull;

struct Chip {
  // The part's bytes, offset 0 first. Bytes past them read as erased (0xFF),
  // so a chip with no bytes is an erased part of flash_size bytes that takes
  // no memory whatever its size.
  std::vector<uint8_t> image;
  // When set, the part's bytes are this file's instead of `image`.
  std::shared_ptr<const MappedImage> file;
  const uint8_t* data() const { return file ? file->bytes : image.data(); }
  uint64_t size() const { return file ? file->size : image.size(); }
  uint32_t flash_size = 0;  // what the mailbox reports
  uint32_t bios_size = 0;   // top bios_size bytes of the part are in the window
  uint32_t block_size = 4096;
  std::string part_name = "SIM25Q128";
  // Bytes of the part mapped in the window when they differ from what the
  // mailbox reports as bios_size (a mailbox that misreports its geometry).
  std::optional<uint32_t> window_bytes;
};

struct PciFunction {
  uint16_t vendor = 0x8086;
  uint8_t base_class = 6;
  uint8_t subclass = 0;
  // Failure knobs for the probe's error roads.
  bool handle_protocol_fails = false;
  bool class_read_fails = false;
  bool vendor_read_fails = false;
};

using ::AcpiMode;
using ::ChipSelectMode;
using ::MailboxMode;
using ::SwitchMode;
enum class FileFailure { None, Open, Write, Close, Rename, RenameIntoPlace };

struct MtrrPair {
  uint64_t base = 0;
  uint64_t mask = 0;
};

struct Board {
  uint8_t active = 0;  // raw ChipPosition at start
  ChipSelectMode chip_select = ChipSelectMode::Present;
  uint8_t is_supported_value = 1;  // what IsSupported answers when present
  SwitchMode switch_mode = SwitchMode::Ok;
  MailboxMode mailbox = MailboxMode::Qvt;
  uint64_t mailbox_answer = 0;  // when not 0, the handshake answers this instead
  AcpiMode acpi = AcpiMode::Present;
  uint16_t smi_port = 0xB2;
  std::vector<PciFunction> pci = {PciFunction{}};
  uint32_t mtrr_variable_pairs = 10;
  uint32_t phys_address_bits = 39;
  // KeyID bits of active multi-key memory encryption, taken from the top of
  // the physical address (0: no memory encryption).
  uint32_t tme_keyid_bits = 0;
  std::map<unsigned, MtrrPair> mtrr_pairs = {{0u, MtrrPair{0xFF000005ull, 0x7FFF000800ull}}};
  std::vector<uint64_t> fail_alloc;  // 1-based ordinals of program AllocatePool calls that fail
  FileFailure fail_file = FileFailure::None;
  // Free bytes of the current directory's file system (none: unlimited).
  std::optional<uint64_t> disk_free;
  Chip main;
  Chip backup;
};

// An erased part of `size` bytes with the given BIOS region size; it holds no
// bytes (see Chip::image).
Chip ErasedChip(uint32_t size, uint32_t bios_size, uint32_t block_size = 4096);

}  // namespace sim
