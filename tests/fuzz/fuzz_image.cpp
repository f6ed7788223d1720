// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the locator and both masks on one arbitrary image, as
// the comparison test applies them to a chip's BIOS region.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "image/descriptor_locator.h"
#include "image/masking.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so that the sanitizer sees any access past its end.
  uint8_t* image = static_cast<uint8_t*>(malloc(size ? size : 1));
  memcpy(image, data, size);
  BiosInfo info;
  memset(&info, 0, sizeof info);
  info.Image = image;
  info.ImageSize = size;
  const EFI_STATUS status = LocateDescriptor(&info);
  if (status == kEfiSuccess) {
    // A found descriptor and its volume lie inside the image.
    if (info.Descriptor < image || info.Descriptor + 192 > image + size) __builtin_trap();
    if (info.Volume < image || info.Volume > info.Descriptor) __builtin_trap();
    if (!ValidateVolumeFiles(info.Volume, image + size)) __builtin_trap();
  } else if (status != kEfiNotFound && status != kEfiUnsupported) {
    __builtin_trap();
  }
  MaskVariableStore(image, size);
  MaskAreas(image, &info);
  free(image);
  return 0;
}
