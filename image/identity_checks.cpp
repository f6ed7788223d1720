// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "image/identity_checks.h"

#include "image/bounded_text.h"

namespace {

const char* TextField(const BiosInfo& info, IdentityField field) {
  switch (field) {
    case IdentityField::FlashPart: return info.FlashPart;
    case IdentityField::ModelName: return info.ModelName;
    case IdentityField::Version: return info.Version;
    case IdentityField::PartNumber: return info.PartNumber;
    default: return nullptr;
  }
}

uint32_t NumberField(const BiosInfo& info, IdentityField field) {
  switch (field) {
    case IdentityField::FlashSize: return info.FlashSize;
    case IdentityField::BlockSize: return info.BlockSize;
    case IdentityField::BiosSize: return info.BiosSize;
    default: return 0;
  }
}

}  // namespace

bool IdentityFieldsAgree(const IdentityCheck& check, const BiosInfo& main, const BiosInfo& backup) {
  if (check.TextWidth == 0) return NumberField(main, check.Field) == NumberField(backup, check.Field);
  return BoundedTextEqual(TextField(main, check.Field), TextField(backup, check.Field), check.TextWidth);
}
