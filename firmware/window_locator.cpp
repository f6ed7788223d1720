// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "firmware/window_locator.h"

#include "firmware/cpu/flash_window.h"
#include "image/layout.h"

using namespace image_layout;

namespace {

constexpr uint32_t kTopVolume = 0xFFFFF000u;
constexpr uint32_t kVolumePositions = 2047;
// Fields copied from a match end with ModelName.
constexpr uint32_t kWindowDescriptorBytes = kDescModelName + kModelNameSize;

void CopyFromWindow(BiosInfo* info, uint32_t d) {
  ReadFlashWindow(d + kDescPartNumber, info->PartNumber, kPartNumberSize);
  ReadFlashWindow(d + kDescVersion, info->Version, kVersionSize);
  ReadFlashWindow(d + kDescModelName, info->ModelName, kModelNameSize);
  const uint32_t aux = ReadFlashWindow32(d + kDescAuxWord);
  info->AuxWord = uint16_t(aux);
  info->AuxByte1 = uint8_t(aux >> 16);
  info->AuxByte2 = uint8_t(aux >> 24);
  uint8_t auxWord2[2];
  ReadFlashWindow(d + kDescAuxWord2, auxWord2, 2);
  info->AuxWord2 = uint16_t(auxWord2[0] | (auxWord2[1] << 8));
}

}  // namespace

void LocateDescriptorInWindow(BiosInfo* info) {
  if (info == nullptr) return;
  for (uint32_t k = 0; k < kVolumePositions; ++k) {
    const uint32_t volume = kTopVolume - k * kVolumeStep;
    if (ReadFlashWindow32(volume + kFvSignature) != kFvSignatureValue) continue;
    const uint64_t fvLength =
        uint64_t(ReadFlashWindow32(volume + kFvLength)) | uint64_t(ReadFlashWindow32(volume + kFvLength + 4)) << 32;
    // Stop where a whole descriptor would no longer fit below 4 GiB.
    uint64_t positions = fvLength / 4;
    const uint64_t fitting = (kFourGiB - kWindowDescriptorBytes - volume) / 4 + 1;
    if (positions > fitting) positions = fitting;
    for (uint64_t j = 0; j < positions; ++j) {
      const uint32_t d = volume + uint32_t(j * 4);
      if (ReadFlashWindow32(d) != kDescriptorSignatureValue) continue;
      if ((ReadFlashWindow32(d + kDescSignature2) & 0xFFFF) != kDescriptorSignature2Value) continue;
      CopyFromWindow(info, d);
      break;
    }
  }
}
