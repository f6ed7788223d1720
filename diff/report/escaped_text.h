// SPDX-License-Identifier: BSD-2-Clause-Patent
// The escaping of texts read from a dump lies in the comparison, which
// pellrix-fleet links without the writers; the reports include it here.
#pragma once

#include "diff/compare/escaped_text.h"
