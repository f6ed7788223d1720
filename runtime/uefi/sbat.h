// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SBAT data each signed image carries in its .sbat section: shim reads
// it before it starts a second stage and checks the "pellrix" generation
// against its revocations. Raise that generation when a security fix must
// revoke every earlier signed image. The last field is the project's
// address (its maintainers' domain), never a made-up one.
#pragma once

#define PELLRIX_SBAT_DATA(package, version)                                       \
  "sbat,1,SBAT Version,sbat,1,https://github.com/rhboot/shim/blob/main/SBAT.md\n" \
  "pellrix,1,Pellrix," package "," version ",https://pellrix.org/\n"
