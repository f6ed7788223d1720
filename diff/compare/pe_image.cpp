// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unordered_set>

#include "fwtree/firmware_tree.h"

namespace pdiff {

namespace {

constexpr uint32_t kTeHeaderSize = 40;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDebugEntrySize = 28;
constexpr uint32_t kDebugDirectory = 6;
constexpr uint32_t kCodeView = 2;
constexpr uint32_t kMostSections = 96;
constexpr uint32_t kMostDebugEntries = 16;

// Reads that fail past the image instead of leaving it.
struct Reader {
  const uint8_t* bytes;
  uint64_t size;
  bool Has(uint64_t at, uint64_t length) const { return at <= size && length <= size - at; }
  uint16_t U16(uint64_t at) const { return uint16_t(bytes[at] | bytes[at + 1] << 8); }
  uint32_t U32(uint64_t at) const { return uint32_t(U16(at)) | uint32_t(U16(at + 2)) << 16; }
};

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// The CodeView record at [at, at + length): its path and identity.
void ReadCodeView(const Reader& image, uint64_t at, uint64_t length, PeHeaders* headers) {
  if (!image.Has(at, length) || length < 4) {
    headers->problem = "debug record outside the image";
    return;
  }
  const uint8_t* record = image.bytes + at;
  uint64_t pathAt = 0;
  if (length >= 24 && std::equal(record, record + 4, "RSDS")) {
    std::string id;
    for (int i = 0; i < 16; ++i) id += Hex32(record[4 + i]).substr(6);
    id += " age " + std::to_string(Reader{record, length}.U32(20));
    headers->debugId = id;
    pathAt = 24;
  } else if (length >= 16 && std::equal(record, record + 4, "NB10")) {
    const Reader cv{record, length};
    headers->debugId = Hex32(cv.U32(8)) + " age " + std::to_string(cv.U32(12));
    pathAt = 16;
  } else if (length >= 20 && std::equal(record, record + 4, "MTOC")) {
    std::string id;
    for (int i = 0; i < 16; ++i) id += Hex32(record[4 + i]).substr(6);
    headers->debugId = id;
    pathAt = 20;
  } else {
    return;
  }
  const uint8_t* path = record + pathAt;
  const uint8_t* end = std::find(path, record + length, 0);
  headers->debugPath = std::string(reinterpret_cast<const char*>(path), size_t(end - path));
}

}  // namespace

PeHeaders ReadPeHeaders(const uint8_t* bytes, uint64_t size, bool te) {
  PeHeaders headers;
  headers.te = te;
  const Reader image{bytes, size};
  uint64_t sectionTable = 0;
  uint32_t sections = 0;
  uint32_t debugRva = 0, debugSize = 0;
  int64_t adjust = 0;  // image offset of a section's raw data minus its stated one
  if (te) {
    if (!image.Has(0, kTeHeaderSize) || image.U16(0) != 0x5A56) {
      headers.problem = "TE header cut short or without its signature";
      return headers;
    }
    headers.machine = image.U16(2);
    sections = image.bytes[4];
    adjust = int64_t(kTeHeaderSize) - image.U16(6);
    headers.entryPoint = image.U32(8);
    debugRva = image.U32(32);
    debugSize = image.U32(36);
    sectionTable = kTeHeaderSize;
  } else {
    uint64_t pe = 0;
    if (image.Has(0, 0x40) && image.U16(0) == 0x5A4D) pe = image.U32(0x3C);
    if (!image.Has(pe, 24) || image.U32(pe) != 0x00004550) {
      headers.problem = "PE header outside the image or without its signature";
      return headers;
    }
    headers.machine = image.U16(pe + 4);
    sections = image.U16(pe + 6);
    headers.timeStamp = image.U32(pe + 8);
    const uint16_t optionalSize = image.U16(pe + 20);
    const uint64_t optional = pe + 24;
    sectionTable = optional + optionalSize;
    if (!image.Has(optional, optionalSize) || optionalSize < 2) {
      headers.problem = "optional header outside the image";
      return headers;
    }
    const uint16_t magic = image.U16(optional);
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    if ((magic != 0x10B && magic != 0x20B) || directories > optional + optionalSize || optionalSize < 60) {
      headers.problem = "optional header of unknown form";
      return headers;
    }
    headers.entryPoint = image.U32(optional + 16);
    headers.imageSize = image.U32(optional + 56);
    const uint32_t count = image.U32(directories - 4);
    const uint64_t debug = directories + kDebugDirectory * 8;
    if (count > kDebugDirectory && debug + 8 <= optional + optionalSize) {
      debugRva = image.U32(debug);
      debugSize = image.U32(debug + 4);
    }
  }
  if (sections > kMostSections || !image.Has(sectionTable, uint64_t(sections) * kSectionHeaderSize)) {
    headers.problem = "section table outside the image";
    return headers;
  }
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t at = sectionTable + uint64_t(i) * kSectionHeaderSize;
    PeSection section;
    const char* name = reinterpret_cast<const char*>(image.bytes + at);
    section.name.assign(name, size_t(std::find(name, name + 8, '\0') - name));
    section.virtualSize = image.U32(at + 8);
    section.virtualAddress = image.U32(at + 12);
    const int64_t raw = int64_t(image.U32(at + 20)) + adjust;
    const uint32_t rawSize = image.U32(at + 16);
    if (raw < 0 || uint64_t(raw) > size) {
      if (headers.problem.empty()) headers.problem = "section " + section.name + " lies outside the image";
    } else {
      section.rawOffset = uint32_t(raw);
      section.rawSize = uint32_t(std::min<uint64_t>(rawSize, size - uint64_t(raw)));
      if (section.rawSize < rawSize && headers.problem.empty())
        headers.problem = "section " + section.name + " runs past the end of the image";
    }
    headers.sections.push_back(section);
  }
  // The debug directory's entries, found through the section holding them.
  if (debugRva != 0 && debugSize != 0) {
    auto offsetOf = [&](uint32_t rva) -> std::optional<uint64_t> {
      for (const PeSection& section : headers.sections)
        if (rva >= section.virtualAddress &&
            rva - section.virtualAddress < std::max(section.virtualSize, section.rawSize))
          return uint64_t(section.rawOffset) + (rva - section.virtualAddress);
      const int64_t header = int64_t(rva) + (te ? adjust : 0);
      return header >= 0 ? std::optional<uint64_t>(uint64_t(header)) : std::nullopt;
    };
    const std::optional<uint64_t> directory = offsetOf(debugRva);
    const uint32_t entries = std::min(debugSize / kDebugEntrySize, kMostDebugEntries);
    if (!directory || !image.Has(*directory, uint64_t(entries) * kDebugEntrySize)) {
      if (headers.problem.empty()) headers.problem = "debug directory outside the image";
      return headers;
    }
    for (uint32_t i = 0; i < entries; ++i) {
      const uint64_t entry = *directory + uint64_t(i) * kDebugEntrySize;
      if (image.U32(entry + 12) != kCodeView) continue;
      const std::optional<uint64_t> record = offsetOf(image.U32(entry + 20));
      if (record) ReadCodeView(image, *record, image.U32(entry + 16), &headers);
      break;
    }
  }
  return headers;
}

std::string TimeStampText(uint32_t seconds) {
  const std::time_t time = std::time_t(seconds);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

namespace {

// The image's printable strings in order of appearance, each once: runs of
// ASCII, and of UTF-16 with ASCII characters.
std::vector<std::string> PrintableStrings(const uint8_t* bytes, uint64_t size) {
  std::vector<std::string> found;
  std::unordered_set<std::string> seen;
  auto keep = [&](std::string&& text) {
    if (text.size() >= kShortestString && seen.insert(text).second) found.push_back(std::move(text));
  };
  auto printable = [](uint8_t c) { return c >= 0x20 && c < 0x7F; };
  std::string run;
  for (uint64_t i = 0; i < size; ++i) {
    if (printable(bytes[i])) {
      run += char(bytes[i]);
      continue;
    }
    keep(std::move(run));
    run.clear();
  }
  keep(std::move(run));
  for (uint64_t start = 0; start < 2; ++start) {
    run.clear();
    for (uint64_t i = start; i + 1 < size; i += 2) {
      if (printable(bytes[i]) && bytes[i + 1] == 0) {
        run += char(bytes[i]);
        continue;
      }
      keep(std::move(run));
      run.clear();
    }
    keep(std::move(run));
  }
  return found;
}

void OneSideOnly(const std::vector<std::string>& mine, const std::vector<std::string>& theirs,
                 std::vector<std::string>* listed, uint64_t* count) {
  const std::unordered_set<std::string> other(theirs.begin(), theirs.end());
  for (const std::string& text : mine)
    if (other.count(text) == 0) {
      if (listed->size() < kStringsListed)
        listed->push_back(text.size() <= kLongestStringListed ? text : text.substr(0, kLongestStringListed) + "...");
      ++*count;
    }
}

uint64_t DifferingBytes(const uint8_t* a, uint64_t aSize, const uint8_t* b, uint64_t bSize) {
  const uint64_t common = std::min(aSize, bSize);
  uint64_t count = std::max(aSize, bSize) - common;
  for (uint64_t i = 0; i < common; ++i) count += a[i] != b[i];
  return count;
}

bool SameLayout(const PeHeaders& a, const PeHeaders& b) {
  if (a.sections.size() != b.sections.size()) return false;
  for (size_t i = 0; i < a.sections.size(); ++i)
    if (a.sections[i].name != b.sections[i].name || a.sections[i].virtualAddress != b.sections[i].virtualAddress ||
        a.sections[i].virtualSize != b.sections[i].virtualSize)
      return false;
  return true;
}

}  // namespace

std::optional<ImageChange> CompareImages(const fwtree::TreeFile& main, const fwtree::TreeFile& backup,
                                         uint64_t* stringBudget) {
  if (main.image == nullptr || backup.image == nullptr) return std::nullopt;
  ImageChange change;
  change.main = ReadPeHeaders(main.image, main.imageSize, main.imageIsTe);
  change.backup = ReadPeHeaders(backup.image, backup.imageSize, backup.imageIsTe);
  change.mainVersion = main.version;
  change.backupVersion = backup.version;
  const PeHeaders& a = change.main;
  const PeHeaders& b = change.backup;

  std::vector<bool> matched(b.sections.size(), false);
  for (const PeSection& section : a.sections) {
    size_t other = 0;
    while (other < b.sections.size() && (matched[other] || b.sections[other].name != section.name)) ++other;
    if (other == b.sections.size()) {
      change.sections.push_back({section.name, section.rawSize, 0});
      continue;
    }
    matched[other] = true;
    const PeSection& theirs = b.sections[other];
    const uint64_t differing = DifferingBytes(main.image + section.rawOffset, section.rawSize,
                                              backup.image + theirs.rawOffset, theirs.rawSize);
    if (differing > 0) change.sections.push_back({section.name, differing, -1});
  }
  for (size_t i = 0; i < b.sections.size(); ++i)
    if (!matched[i]) change.sections.push_back({b.sections[i].name, b.sections[i].rawSize, 1});

  if (main.imageSize + backup.imageSize <= *stringBudget) {
    *stringBudget -= main.imageSize + backup.imageSize;
    const std::vector<std::string> mainStrings = PrintableStrings(main.image, main.imageSize);
    const std::vector<std::string> backupStrings = PrintableStrings(backup.image, backup.imageSize);
    OneSideOnly(mainStrings, backupStrings, &change.onlyInMain, &change.onlyInMainCount);
    OneSideOnly(backupStrings, mainStrings, &change.onlyInBackup, &change.onlyInBackupCount);
  } else {
    change.stringsCompared = false;
  }

  if (a.te != b.te) change.rebuiltBy.push_back("image format");
  if (a.timeStamp != b.timeStamp) change.rebuiltBy.push_back("time stamp");
  if (a.imageSize != b.imageSize) change.rebuiltBy.push_back("image size");
  if (!SameLayout(a, b)) change.rebuiltBy.push_back("section layout");
  if (a.debugPath != b.debugPath) change.rebuiltBy.push_back("debug path");
  if (a.debugId != b.debugId) change.rebuiltBy.push_back("debug identity");
  if (change.mainVersion != change.backupVersion) change.rebuiltBy.push_back("version");
  change.rebuilt = !change.rebuiltBy.empty();
  return change;
}

}  // namespace pdiff
