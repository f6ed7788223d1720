// SPDX-License-Identifier: BSD-2-Clause-Patent
// The report page's compact document read back, written apart from the
// writer (diff/report/page_data.h describes the form) so that the tests can
// hold the two against each other and against --json.
#pragma once

#include <nlohmann/json.hpp>

namespace support {

// The document a page holds: expanded when compact, else as it is.
nlohmann::json ExpandPageData(const nlohmann::json& held);

}  // namespace support
