// SPDX-License-Identifier: BSD-2-Clause-Patent
// The firmware tree on images built to hold every encapsulation it opens:
// each file found at its path with its name, the compressed ones marked and
// without a flash offset, damaged and over-limit content reported without
// losing the file; the standard-compression decoder against an independent
// encoder; the flash descriptor against ifdtool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <fstream>
#include <regex>

#include "fwtree/encapsulation.h"
#include "fwtree/firmware_tree.h"
#include "fwtree/flash_descriptor.h"
#include "fwtree/standard_decompress.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sim_support.h"
#include "tests/support/standard_compressor.h"

namespace {

using fwtree::StandardVariant;
using sim::Bytes;
using namespace support;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Text with repeats at many distances, so the encoder emits matches.
Bytes Repetitive(size_t size) {
  Bytes out;
  for (uint32_t i = 0; out.size() < size; ++i) {
    const std::string word = "module" + std::to_string(i % 97) + (i % 5 ? " PEI " : " DXE driver ");
    out.insert(out.end(), word.begin(), word.end());
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> Decode(const Bytes& stream, StandardVariant variant, bool* ok) {
  std::vector<uint8_t> out;
  std::string problem;
  *ok = fwtree::StandardDecompress(stream.data(), stream.size(), variant, 1u << 24, &out, &problem);
  return out;
}

TEST(StandardDecompress, RoundTripsBothVariantsOverSeveralBlocks) {
  for (StandardVariant variant : {StandardVariant::Efi11, StandardVariant::Tiano}) {
    for (const Bytes& data : {Repetitive(200), sim::PseudoRandomBytes(5000, 7), Repetitive(300000), Bytes{}}) {
      bool ok = false;
      EXPECT_EQ(Decode(StandardCompress(data, variant), variant, &ok), data) << data.size();
      EXPECT_TRUE(ok);
    }
  }
}

TEST(StandardDecompress, TheOtherVariantDoesNotReproduceTheData) {
  const Bytes data = Repetitive(4000);
  bool ok = false;
  const std::vector<uint8_t> asTiano =
      Decode(StandardCompress(data, StandardVariant::Efi11), StandardVariant::Tiano, &ok);
  EXPECT_TRUE(!ok || asTiano != data);
}

TEST(StandardDecompress, DamagedStreamsEndCleanly) {
  const Bytes stream = StandardCompress(Repetitive(3000), StandardVariant::Efi11);
  for (size_t cut = 0; cut < stream.size(); cut += 7) {
    Bytes shorter(stream.begin(), stream.begin() + long(cut));
    if (shorter.size() >= 4) shorter[0] = uint8_t(shorter.size() - 8);  // the header agrees with the cut
    bool ok = false;
    const std::vector<uint8_t> out = Decode(shorter, StandardVariant::Efi11, &ok);
    EXPECT_TRUE(!ok || out.size() == 3000) << cut;
  }
  for (size_t bit = 64; bit < stream.size() * 8; bit += 13) {
    Bytes flipped = stream;
    flipped[bit / 8] ^= uint8_t(1 << (bit % 8));
    bool ok = false;
    const std::vector<uint8_t> out = Decode(flipped, StandardVariant::Efi11, &ok);
    EXPECT_TRUE(!ok || out.size() == 3000) << bit;
  }
}

TEST(StandardDecompress, RefusesOutputOverTheLimitAndStreamsLongerThanTheInput) {
  const Bytes stream = StandardCompress(Repetitive(3000), StandardVariant::Efi11);
  std::vector<uint8_t> out;
  std::string problem;
  EXPECT_FALSE(fwtree::StandardDecompress(stream.data(), stream.size(), StandardVariant::Efi11, 2999, &out, &problem));
  EXPECT_FALSE(
      fwtree::StandardDecompress(stream.data(), stream.size() - 1, StandardVariant::Efi11, 1u << 20, &out, &problem));
  EXPECT_FALSE(problem.empty());
}

// Streams no encoder writes. A match that starts before the output would
// read outside it (the first token a match, or one reaching one byte too
// far back); a literal-and-length code that leaves part of its code space
// unused is not the format. Each has a twin that differs only in the fault
// and decodes, so a refusal is the decoder's check, not a broken stream.
TEST(StandardDecompress, RefusesMatchesBeforeTheOutputAndCodesThatLeaveCodeSpaceUnused) {
  const StandardToken a{'a', 0};
  const StandardToken b{'b', 0};
  const StandardToken threeFromOneBack{256, 0};
  const StandardToken threeFromTwoBack{256, 1};
  const struct {
    const char* stream;
    std::vector<StandardToken> tokens;
    uint32_t size;  // what the tokens give
    bool incompleteCode;
    const char* decoded;  // null: refused
  } cases[] = {
      {"first token a match", {threeFromOneBack, a}, 4, false, nullptr},
      {"a match one byte before the output", {a, threeFromTwoBack}, 4, false, nullptr},
      {"the same match after two literals", {a, b, threeFromTwoBack}, 5, false, "ababa"},
      {"a code that leaves code space unused", {a, b, a}, 3, true, nullptr},
      {"the same literals in a complete code", {a, b, a}, 3, false, "aba"},
  };
  for (StandardVariant variant : {StandardVariant::Efi11, StandardVariant::Tiano}) {
    for (const auto& test : cases) {
      bool ok = false;
      const std::vector<uint8_t> out =
          Decode(StandardEncodeTokens(test.tokens, test.size, variant, test.incompleteCode), variant, &ok);
      EXPECT_EQ(ok, test.decoded != nullptr) << test.stream;
      if (ok && test.decoded) {
        EXPECT_EQ(std::string(out.begin(), out.end()), test.decoded) << test.stream;
      }
    }
  }
}

// x86 code: calls with relative targets, which the x86 filter makes
// absolute before LZMA and relative again after it.
Bytes X86Calls(size_t count) {
  Bytes code;
  for (size_t i = 0; i < count; ++i)
    for (uint8_t byte : {0x55, 0xE8, int(i * 7 & 0xFF), int(i >> 5 & 0xFF), 0x00, 0x00, 0x5D, 0xC3})
      code.push_back(uint8_t(byte));
  return code;
}

// The bytes a section holds after its header, as the decoders take them.
Bytes Payload(const Bytes& section, size_t header) { return Bytes(section.begin() + long(header), section.end()); }
Bytes GuidedPayload(const Bytes& section) { return Payload(section, section[20] | section[21] << 8); }

void Put64(Bytes& bytes, size_t at, uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// Each builder section decodes to exactly the sections it was built from
// (a decoder that skips the x86 filter gives other bytes and no error);
// a stream cut short or stating more than it holds is refused, and a
// refused decode is charged what it produced, not what its header states.
TEST(Decoders, GiveTheBuiltBytesAndChargeWhatTheyProduce) {
  const Bytes sections = Sections({sim::Section(sim::kSectionPe32, X86Calls(2000)), UiSection(u"Calls")});
  const Bytes lzma = GuidedPayload(LzmaSection(sections));
  const Bytes lzmaX86 = GuidedPayload(LzmaSection(sections, true));
  Bytes brotliOver = GuidedPayload(BrotliSection(sections));
  Put64(brotliOver, 0, sections.size() + 100);
  Bytes garbageBrotli(64, 0x5A);
  Put64(garbageBrotli, 0, 100u << 20);
  using Kind = fwtree::GuidedKind;
  const struct {
    const char* section;
    std::optional<Kind> kind;  // none: standard compression
    Bytes payload;
    bool decodes;
  } cases[] = {
      {"LZMA", Kind::Lzma, lzma, true},
      {"LZMA with the x86 filter", Kind::LzmaX86, lzmaX86, true},
      {"Brotli", Kind::Brotli, GuidedPayload(BrotliSection(sections)), true},
      {"EFI 1.1", std::nullopt, Payload(StandardCompressionSection(sections, StandardVariant::Efi11), 9), true},
      {"Tiano", std::nullopt, Payload(StandardCompressionSection(sections, StandardVariant::Tiano), 9), true},
      {"LZMA cut 32 bytes short", Kind::Lzma, Bytes(lzma.begin(), lzma.end() - 32), false},
      {"LZMA x86 cut 32 bytes short", Kind::LzmaX86, Bytes(lzmaX86.begin(), lzmaX86.end() - 32), false},
      {"Brotli stating 100 bytes more than it holds", Kind::Brotli, brotliOver, false},
      {"Brotli garbage stating 100 MiB", Kind::Brotli, garbageBrotli, false},
  };
  for (const auto& test : cases) {
    constexpr uint64_t kBudget = 192u << 20;
    fwtree::TreeBudget budget(kBudget);
    std::vector<uint8_t> out;
    std::string problem;
    const bool ok =
        test.kind
            ? fwtree::DecodeGuided(*test.kind, test.payload.data(), test.payload.size(), budget, 0, &out, &problem)
            : fwtree::DecodeStandard(test.payload.data(), test.payload.size(), budget, 0, &out, &problem);
    EXPECT_EQ(ok, test.decodes) << test.section << ": " << problem;
    if (ok) {
      EXPECT_TRUE(std::equal(out.begin(), out.end(), sections.begin(), sections.end())) << test.section;
    } else {
      EXPECT_LE(kBudget - budget.remaining(), sections.size()) << test.section;
    }
  }
}

sim::Guid Name(uint32_t n) { return sim::MakeGuid(0x5EC70000 + n, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, uint8_t(n)}); }

Bytes Driver(uint32_t n, const Bytes& body, uint8_t type = sim::kFileTypeDriver) {
  sim::FileSpec spec;
  spec.name = Name(n);
  spec.type = type;
  spec.body = body;
  return sim::BuildFile(spec);
}

Bytes Module(uint32_t n, const std::u16string& name) {
  return Sections({sim::Section(sim::kSectionPe32, sim::Pe32Image(600 + 40 * n, n)), UiSection(name)});
}

Bytes NestedVolume(uint32_t nameGuid, const std::vector<Bytes>& files, uint64_t length = 0x8000) {
  sim::VolumeSpec spec;
  spec.length = length;
  spec.ext_name = Name(nameGuid);
  spec.files = files;
  return sim::BuildVolume(spec);
}

struct BuiltImage {
  Bytes bytes;
  std::vector<size_t> fileOffsets;  // of the outer volume's files, from the image start
  static constexpr size_t kVolume = 0x1000;
};

// An erased gap, then one volume holding one file per encapsulation. Only
// those an independent parser knows as well: without Brotli, the GUID-defined
// section nobody can decode and the 8-byte section header.
BuiltImage BuildEncapsulations(bool onlyCommonOnes = false) {
  const Bytes peiVolume = NestedVolume(100, {Driver(101, Module(1, u"InnerPei"), sim::kFileTypePeim),
                                             Driver(102, Module(2, u"InnerTwin"), sim::kFileTypePeim),
                                             Driver(102, Module(3, u"InnerTwin"), sim::kFileTypePeim)});
  const Bytes plainVolume = NestedVolume(200, {Driver(201, Module(4, u"PlainInner"))});
  sim::VolumeSpec outer;
  outer.length = 0x40000;
  outer.ext_name = Name(1);
  outer.files = {
      Driver(10, Sections({LzmaSection(Module(10, u"LzmaDriver"))})),
      Driver(11, Sections({LzmaSection(Module(11, u"LzmaX86Driver"), true)})),
      Driver(12, Sections({BrotliSection(Module(12, u"BrotliDriver"))})),
      Driver(13, Sections({StandardCompressionSection(Module(13, u"EfiDriver"), StandardVariant::Efi11)})),
      Driver(14, Sections({StandardCompressionSection(Module(14, u"TianoDriver"), StandardVariant::Tiano)})),
      Driver(15, Sections({Crc32Section(Module(15, u"Crc32Driver"))})),
      Driver(16, Sections({PlainCompressionSection(Module(16, u"StoredDriver"))})),
      Driver(17, Sections({GuidedSection(fwtree::GuidFromText("0DB1B2A7-3C7E-4D5F-9A8B-1C2D3E4F5A6B"), 0,
                                         Module(17, u"NoProcessing"))})),
      Driver(18, Sections({GuidedSection(fwtree::GuidFromText("6E2C3B4A-1F0D-4E9C-8B7A-695847362514"),
                                         kProcessingRequired, Text("opaque")),
                           UiSection(u"UnknownGuided")})),
      Driver(19, Sections({LzmaSection(Sections({sim::Section(0x19, Text("x")), VolumeImageSection(peiVolume)}))}),
             kFileTypeVolumeImage),
      Driver(20, Sections({VolumeImageSection(plainVolume)}), kFileTypeVolumeImage),
      Driver(21, Sections({LargeSection(sim::kSectionPe32, sim::Pe32Image(300, 21)), UiSection(u"Große\u00e9")})),
  };
  if (onlyCommonOnes)
    for (size_t index : {11u, 8u, 2u}) outer.files.erase(outer.files.begin() + long(index));
  BuiltImage image;
  std::vector<size_t> offsets;
  const Bytes volume = sim::BuildVolume(outer, &offsets);
  image.bytes.assign(BuiltImage::kVolume, 0xFF);
  image.bytes.insert(image.bytes.end(), volume.begin(), volume.end());
  for (size_t offset : offsets) image.fileOffsets.push_back(BuiltImage::kVolume + offset);
  return image;
}

const fwtree::TreeFile* Find(const fwtree::FirmwareTree& tree, uint32_t n, uint32_t index = 0) {
  for (const fwtree::TreeFile& file : tree.files)
    if (file.guid == Name(n) && file.index == index) return &file;
  return nullptr;
}

std::vector<fwtree::Guid> Path(std::initializer_list<uint32_t> names) {
  std::vector<fwtree::Guid> path;
  for (uint32_t n : names) path.push_back(Name(n));
  return path;
}

TEST(FirmwareTree, OpensEveryEncapsulationAndNamesTheFilesInside) {
  const BuiltImage image = BuildEncapsulations();
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(image.bytes.data(), image.bytes.size());
  EXPECT_TRUE(tree.problems.empty());
  const struct {
    uint32_t n;
    const char* name;
    bool compressed;
  } expected[] = {{10, "LzmaDriver", true},    {11, "LzmaX86Driver", true}, {12, "BrotliDriver", true},
                  {13, "EfiDriver", true},     {14, "TianoDriver", true},   {15, "Crc32Driver", false},
                  {16, "StoredDriver", false}, {17, "NoProcessing", false}, {18, "UnknownGuided", false},
                  {21, "Große\u00e9", false}};
  for (const auto& want : expected) {
    const fwtree::TreeFile* file = Find(tree, want.n);
    ASSERT_NE(file, nullptr) << want.name;
    EXPECT_EQ(file->name.value_or("(none)"), want.name);
    EXPECT_EQ(file->path, Path({1}));
    // The file itself lies in the outer volume: its own offset is known.
    EXPECT_EQ(file->offset, image.fileOffsets[want.n - 10]) << want.name;
    EXPECT_FALSE(file->compressed);
  }
  EXPECT_EQ(Find(tree, 18)->problems.size(), 1u);
  EXPECT_TRUE(Find(tree, 10)->problems.empty());
  EXPECT_GT(tree.decodedBytes, 0u);
}

TEST(FirmwareTree, NestedVolumesGiveThePathIndexAndNoOffsetWhenCompressed) {
  const BuiltImage image = BuildEncapsulations();
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(image.bytes.data(), image.bytes.size());
  const fwtree::TreeFile* inner = Find(tree, 101);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->path, Path({1, 19, 100}));
  EXPECT_EQ(inner->name, "InnerPei");
  EXPECT_TRUE(inner->compressed);
  EXPECT_FALSE(inner->offset);
  // Two files of one GUID in one volume: told apart by their index.
  ASSERT_NE(Find(tree, 102, 1), nullptr);
  EXPECT_EQ(Find(tree, 102, 0)->path, Find(tree, 102, 1)->path);
  EXPECT_NE(Find(tree, 102, 0)->bytes, Find(tree, 102, 1)->bytes);
  // The volume image file has no name of its own: the names inside its
  // volume belong to the files there.
  EXPECT_FALSE(Find(tree, 19)->name);

  const fwtree::TreeFile* plain = Find(tree, 201);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->path, Path({1, 20, 200}));
  EXPECT_FALSE(plain->compressed);
  ASSERT_TRUE(plain->offset);
  EXPECT_EQ(std::memcmp(image.bytes.data() + *plain->offset, plain->bytes, plain->size), 0);
}

// Files are counted per path and GUID: a GUID in the outer volume and again
// in a volume nested in it is the first of its path in both.
TEST(FirmwareTree, TheIndexCountsWithinOnePath) {
  sim::VolumeSpec outer;
  outer.ext_name = Name(72);
  outer.files = {Driver(70, Module(2, u"Outer")),
                 Driver(73, Sections({VolumeImageSection(NestedVolume(71, {Driver(70, Module(1, u"Inner"))}))}),
                        kFileTypeVolumeImage),
                 Driver(70, Module(3, u"OuterAgain"))};
  const Bytes bytes = sim::BuildVolume(outer);
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(bytes.data(), bytes.size());
  std::map<std::string, std::pair<std::vector<fwtree::Guid>, uint32_t>> found;
  for (const fwtree::TreeFile& file : tree.files)
    if (file.name) found[*file.name] = {file.path, file.index};
  EXPECT_EQ(found["Outer"], std::make_pair(Path({72}), 0u));
  EXPECT_EQ(found["Inner"], std::make_pair(Path({72, 73, 71}), 0u));
  EXPECT_EQ(found["OuterAgain"], std::make_pair(Path({72}), 1u));
}

// UEFIExtract, an independent parser, opens the same encapsulations the
// same way: same files, paths and names (its Debian build has no Brotli).
TEST(FirmwareTree, UefiExtractFindsTheSameFilesAndNamesInTheBuiltEncapsulations) {
  const BuiltImage image = BuildEncapsulations(true);
  support::TempDir dir;
  const std::string path = dir.str() + "/encapsulations.fd";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bytes.data()), long(image.bytes.size()));
  const std::string command = "python3 '" + std::string(PELLRIX_SOURCE_DIR) + "/tools/uefiextract_compare.py' '" +
                              PELLRIX_DIFF_PATH + "' '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_NE(output.find("UEFIExtract 13: same"), std::string::npos) << output;
}

TEST(FirmwareTree, LargeFilesOfFfs3VolumesAreWalkedAndTheNextFileFound) {
  sim::FileSpec large;
  large.name = Name(30);
  large.body = Module(30, u"LargeOne");
  sim::VolumeSpec volume;
  volume.file_system = ToSimGuid(fwtree::kFileSystem3);
  volume.files = {BuildLargeFile(large), Driver(31, Module(31, u"AfterLarge"))};
  const Bytes bytes = sim::BuildVolume(volume);
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(bytes.data(), bytes.size());
  ASSERT_EQ(tree.files.size(), 2u);
  EXPECT_EQ(tree.files[0].name, "LargeOne");
  EXPECT_EQ(tree.files[0].size, 32 + large.body.size());
  EXPECT_EQ(tree.files[1].name, "AfterLarge");
  EXPECT_EQ(tree.volumes[0].ffsVersion, 3);
  EXPECT_EQ(tree.volumes[0].path, std::vector<fwtree::Guid>{fwtree::kFileSystem3});
}

// The counts and the budget bound the whole walk: reaching one stops it with
// one problem of the tree, what was walked before it kept.
TEST(FirmwareTree, FileVolumeAndBudgetLimitsEndTheWalkWithOneProblem) {
  std::vector<Bytes> files;
  for (uint32_t n = 0; n < 6; ++n)
    files.push_back(Driver(80 + n,
                           Sections({VolumeImageSection(NestedVolume(
                               90 + n, {Driver(100 + n, sim::Section(sim::kSectionRaw, Text("x")))}, 0x200))}),
                           kFileTypeVolumeImage));
  sim::VolumeSpec outer;
  outer.files = files;
  const Bytes bytes = sim::BuildVolume(outer);  // 1 + 6 volumes, 12 files
  const struct {
    const char* limit;
    fwtree::TreeLimits limits;
    size_t files;  // 0: fewer than all
    size_t volumes;
    const char* problem;
  } cases[] = {
      {"none reached", {}, 12, 7, nullptr},
      {"5 files", {.maxFiles = 5}, 5, 4, "more than 5 files"},
      {"3 volumes", {.maxVolumes = 3}, 5, 3, "more than 3 volumes"},
      {"a budget below the records", {.budget = 12 * sizeof(fwtree::TreeFile)}, 0, 0, "MiB for the dump's"},
  };
  for (const auto& test : cases) {
    const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(bytes.data(), bytes.size(), test.limits);
    if (test.files) {
      EXPECT_EQ(tree.files.size(), test.files) << test.limit;
      EXPECT_EQ(tree.volumes.size(), test.volumes) << test.limit;
    } else {
      EXPECT_LT(tree.files.size(), 12u) << test.limit;
    }
    ASSERT_EQ(tree.problems.size(), test.problem ? 1u : 0u) << test.limit;
    if (test.problem) {
      EXPECT_NE(tree.problems[0].find(test.problem), std::string::npos) << tree.problems[0];
    }
  }
}

TEST(FirmwareTree, LimitsAndDamageAreReportedAndTheFileStaysListed) {
  // Plain compression sections nested 40 deep around a name.
  Bytes nested = UiSection(u"Deep");
  for (int i = 0; i < 40; ++i) nested = PlainCompressionSection(nested);
  Bytes damagedLzma = LzmaSection(Module(41, u"Lost"));
  damagedLzma[damagedLzma.size() / 2] ^= 0x55;
  damagedLzma[damagedLzma.size() / 2 + 1] ^= 0xAA;
  sim::VolumeSpec volume;
  const Bytes big = Sections({sim::Section(sim::kSectionRaw, Repetitive(100000)), UiSection(u"Big")});
  volume.files = {Driver(40, nested), Driver(41, damagedLzma), Driver(42, BrotliSection(big))};
  volume.length = 0x10000;
  const Bytes bytes = sim::BuildVolume(volume);

  fwtree::TreeLimits limits;
  limits.budget = 32 << 10;  // room for the records, less than the Brotli section states
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(bytes.data(), bytes.size(), limits);
  ASSERT_EQ(tree.files.size(), 3u);
  for (const fwtree::TreeFile& file : tree.files) {
    EXPECT_FALSE(file.name) << fwtree::GuidText(file.guid);
    EXPECT_EQ(file.problems.size(), 1u) << fwtree::GuidText(file.guid);
  }
}

TEST(FirmwareTree, ACutShortFileEndsItsVolumeWithAProblem) {
  sim::VolumeSpec volume;
  volume.files = {Driver(50, Module(50, u"Kept")), Driver(51, Module(51, u"Cut"))};
  std::vector<size_t> offsets;
  Bytes bytes = sim::BuildVolume(volume, &offsets);
  bytes[offsets[1] + 22] = 0x7F;  // a size far beyond the volume
  const fwtree::FirmwareTree tree = fwtree::BuildFirmwareTree(bytes.data(), bytes.size());
  ASSERT_EQ(tree.files.size(), 1u);
  EXPECT_EQ(tree.files[0].name, "Kept");
  EXPECT_EQ(tree.problems.size(), 1u);
}

// Regions as ifdtool prints them: "Flash Region N (NAME): BASE - LIMIT".
std::map<int, std::string> IfdtoolRegions(const Bytes& descriptor) {
  support::TempDir dir;
  const std::string path = dir.str() + "/descriptor.bin";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(descriptor.data()), long(descriptor.size()));
  FILE* pipe = popen(("ifdtool -d '" + path + "' 2>&1").c_str(), "r");
  std::string text;
  char buffer[4096];
  for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  if (pipe != nullptr) pclose(pipe);
  std::map<int, std::string> regions;
  const std::regex line(R"(Flash Region (\d+) \(([^)]*)\): ([0-9a-f]{8}) - ([0-9a-f]{8}) *(\(unused\))?)");
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
    if (!(*it)[5].matched) regions[std::stoi((*it)[1])] = (*it)[2].str() + " " + (*it)[3].str() + "-" + (*it)[4].str();
  return regions;
}

std::map<int, std::string> OurRegions(const Bytes& descriptor) {
  std::map<int, std::string> regions;
  const auto read = fwtree::ReadFlashDescriptor(descriptor.data(), descriptor.size());
  if (!read) return regions;
  for (const fwtree::FlashRegion& region : read->regions) {
    char range[32];
    std::snprintf(range, sizeof range, "%08llx-%08llx", static_cast<unsigned long long>(region.base),
                  static_cast<unsigned long long>(region.base + region.length - 1));
    regions[region.index] = std::string(region.name) + " " + range;
  }
  return regions;
}

TEST(FlashDescriptor, RegionsAgreeWithIfdtool) {
  std::vector<Bytes> descriptors = {
      BuildFlashDescriptor({{0, 0, 0xFFF}, {1, 0x800000, 0xFFFFFF}, {2, 0x1000, 0x7EFFFF}, {3, 0x7F0000, 0x7FFFFF}}),
      BuildFlashDescriptor({{0, 0, 0xFFF}, {1, 0x200000, 0x3FFFFF}, {4, 0x1000, 0x1FFFFF}})};
  const char* corpus = std::getenv("PELLRIX_CORPUS");
  for (const char* name : {"parrot-descriptor.bin", "stumpy-descriptor.bin"}) {
    if (corpus == nullptr) break;
    std::ifstream in(std::string(corpus) + "/ifd/" + name, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), {});
    if (!bytes.empty()) descriptors.push_back(bytes);
  }
  for (const Bytes& descriptor : descriptors) {
    const std::map<int, std::string> reference = IfdtoolRegions(descriptor);
    ASSERT_FALSE(reference.empty()) << "ifdtool (coreboot-utils) printed no regions";
    EXPECT_EQ(OurRegions(descriptor), reference);
  }
}

TEST(FlashDescriptor, NoSignatureOrATableOutsideThePartGivesNone) {
  Bytes descriptor = BuildFlashDescriptor({{0, 0, 0xFFF}, {1, 0x1000, 0xFFFF}});
  EXPECT_TRUE(fwtree::ReadFlashDescriptor(descriptor.data(), descriptor.size()));
  EXPECT_FALSE(fwtree::ReadFlashDescriptor(descriptor.data(), 0x50));
  descriptor[16] = 0;
  EXPECT_FALSE(fwtree::ReadFlashDescriptor(descriptor.data(), descriptor.size()));
}

}  // namespace
