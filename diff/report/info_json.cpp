// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/report/info_json.h"

#include "diff/compare/comparison.h"
#include "diff/report/escaped_text.h"
#include "diff/report/file_json.h"
#include "diff/report/json_stream.h"
#include "diff/report/layout_json.h"
#include "diff/report/variable_report.h"

namespace pdiff {

using nlohmann::json;

void WriteInfoJson(std::ostream& out, ChipDump& dump) {
  const Geometry geometry = BoardGeometry(dump, {});
  const fwtree::FirmwareTree& tree = dump.tree();
  JsonStream stream(out);
  stream.Member("file", EscapedText(dump.path()));
  stream.Member("size", dump.fileSize());
  stream.Member("sha256", dump.sha256());
  stream.Member("whole_part", dump.isWholePart());
  // The part's length by its own descriptor, when the file is shorter (cut
  // short) or holds it more than once.
  stream.Member("stated_part_size",
                dump.cutShort() || dump.partCopies() > 1 ? json(dump.statedPartSize()) : json(nullptr));
  stream.Member("part_copies", dump.partCopies());
  json identity = nullptr;
  if (dump.hasDescriptor()) {
    const BiosInfo& info = dump.fileRecord();
    identity = {{"model_name", EscapedText(info.ModelName)},
                {"part_number", EscapedText(info.PartNumber)},
                {"version", EscapedText(info.Version)},
                {"flash_size", info.FlashSize},
                {"bios_size", info.BiosSize},
                {"block_size", info.BlockSize}};
  }
  stream.Member("identity", identity);
  stream.Member("flash_descriptor", FlashDescriptorJson(dump));
  stream.Member(
      "geometry",
      {{"flash_size", geometry.flashSize}, {"bios_size", geometry.biosSize}, {"block_size", geometry.blockSize}});
  stream.BeginArray("volumes");
  for (const fwtree::TreeVolume& volume : tree.volumes) stream.Item(TreeVolumeJson(geometry, dump, volume));
  stream.EndArray();
  stream.BeginArray("files");
  for (const fwtree::TreeFile& file : tree.files) {
    json entry = FileNameJson(file);
    entry.update(FilePlaceJson(geometry, dump, &file));
    if (!file.problems.empty()) {
      json problems = json::array();
      for (const std::string& problem : file.problems) problems.push_back(problem);
      entry["problems"] = problems;
    }
    stream.Item(entry);
  }
  stream.EndArray();
  stream.Member("variable_stores", StoreListingJson(geometry, dump));
  json problems = json::array();
  for (const std::string& problem : tree.problems) problems.push_back(problem);
  stream.Member("problems", problems);
  stream.Member("decompressed_bytes", tree.decodedBytes);
  stream.End();
}

}  // namespace pdiff
