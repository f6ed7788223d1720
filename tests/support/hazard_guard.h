// SPDX-License-Identifier: BSD-2-Clause-Patent
// Every test runs under a guard that fails the run when any simulated machine
// saw an access a real board would not survive: a faulting processor access
// or a load from the device registers below the flash decode.
#pragma once

namespace support {

// For the few tests that provoke such an access on purpose.
void AllowHardwareHazardsInThisTest();

}  // namespace support
