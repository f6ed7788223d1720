// SPDX-License-Identifier: BSD-2-Clause-Patent
#pragma once

void PrintBanner();
void PrintUsage();
