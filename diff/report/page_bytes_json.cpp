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
  const char* separator = "";
  for (const RangeBytes& range : bytes.ranges) {
    out << separator << '[' << range.flashOffset << ',' << range.length << ',';
    WriteSide(out, range.main);
    out << ',';
    WriteSide(out, range.backup);
    out << ']';
    separator = ",\n";
  }
  out << "],\"files\":[";
  separator = "";
  for (const FileBytes& file : bytes.files) {
    out << separator << '[' << file.change << ',';
    WriteSide(out, file.main);
    out << ',';
    WriteSide(out, file.backup);
    out << ']';
    separator = ",\n";
  }
  out << "]}";
}

}  // namespace pdiff
