// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/page_bytes_json.h"

#include <openssl/evp.h>

#include <string>

namespace pdiff {

namespace {

// `from`, then the bytes as a base64 string: null and "" for a chip that
// holds none of them.
void WriteSide(std::ostream& out, const SideBytes& side) {
  if (!side.from) {
    out << "null,\"\"";
    return;
  }
  std::string text(4 * ((side.bytes.size() + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), side.bytes.data(), int(side.bytes.size()));
  text.resize(size_t(length));
  out << *side.from << ",\"" << text << '"';
}

}  // namespace

void WritePageBytes(JsonStream& stream, const PageBytes& bytes) {
  std::ostream& out = stream.RawMember("page_bytes");
  out << "{\"most\":" << bytes.most << ",\"embedded\":" << bytes.embedded << ",\"line\":" << kBytesPerLine
      << ",\"most_per_item\":" << kMostBytesPerItem << ",\"ranges_left_out\":" << bytes.rangesLeftOut
      << ",\"files_left_out\":" << bytes.filesLeftOut << ",\"ranges\":[";
  // Each item: its own first numbers, then Main's and Backup's bytes.
  const auto writeItems = [&out](const auto& items, const auto& writeHead) {
    const char* separator = "";
    for (const auto& item : items) {
      out << separator << '[';
      writeHead(item);
      WriteSide(out, item.main);
      out << ',';
      WriteSide(out, item.backup);
      out << ']';
      separator = ",\n";
    }
  };
  writeItems(bytes.ranges, [&out](const RangeBytes& range) { out << range.flashOffset << ',' << range.length << ','; });
  out << "],\"files\":[";
  writeItems(bytes.files, [&out](const FileBytes& file) { out << file.change << ','; });
  out << "]}";
}

}  // namespace pdiff
