// SPDX-License-Identifier: BSD-2-Clause-Patent
// The bytes a page embeds for its bytes view, as one member of the page's
// document (`page_bytes`): compact arrays with each chip's bytes in base64.
#pragma once

#include "diff/report/json_stream.h"
#include "diff/report/page_bytes.h"

namespace pdiff {

void WritePageBytes(JsonStream& stream, const PageBytes& bytes);

}  // namespace pdiff
