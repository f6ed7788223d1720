// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff's report page as a file: where it may go, how it replaces an
// earlier page, that no text of a dump can break out of the document it
// embeds, that long range lists stay small, and the dumps' SHA-256. What the
// page shows is checked in a browser (tests/browser/).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <iterator>

#include "diff/compare/range_spans.h"
#include "diff/report/html_page.h"
#include "tests/support/diff_support.h"
#include "tests/support/page_data_reader.h"
#include "tests/support/sim_support.h"

namespace {

using nlohmann::json;
using namespace support;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// The document between the data script's tags, expanded from its compact form.
json EmbeddedDocument(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"report-data\">";
  const size_t begin = page.find(open);
  if (begin == std::string::npos) return nullptr;
  const size_t end = page.find("</script>", begin);
  return ExpandPageData(json::parse(page.substr(begin + open.size(), end - begin - open.size()), nullptr, false));
}

class DiffHtmlPage : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(Main(), BuildProbePart(ProbeDescriptor(), 1).bytes);
    ProbePart backup = BuildProbePart(ProbeDescriptor(), 1);
    backup.bytes[backup.driverData] ^= 0xFF;
    WriteBytes(Backup(), backup.bytes);
  }
  fs::path Main() const { return scratch_.path() / "MAIN.BIN"; }
  fs::path Backup() const { return scratch_.path() / "BACKUP.BIN"; }
  TempDir scratch_;
};

// Catches a page written over an input dump, or to standard output.
TEST_F(DiffHtmlPage, APageThatWouldReplaceADumpOrGoToStandardOutputIsRefused) {
  fs::create_symlink(Main(), scratch_.path() / "link.BIN");
  const std::vector<uint8_t> before = ReadFileBytes(Main());
  const std::string spelledOtherwise = (scratch_.path() / "sub" / ".." / "MAIN.BIN").string();
  fs::create_directory(scratch_.path() / "sub");
  for (const std::string& target : {std::string("-"), Main().string(), Backup().string(), spelledOtherwise,
                                    (scratch_.path() / "link.BIN").string()}) {
    const ProgramRun run = RunDiff({"--html", target, Main().string(), Backup().string()});
    EXPECT_EQ(run.status, 2) << target;
    EXPECT_EQ(run.out, "") << target;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  const ProgramRun info = RunDiff({"--info", "--html", Main().string(), Main().string()});
  EXPECT_EQ(info.status, 2);
  EXPECT_EQ(ReadFileBytes(Main()), before);
}

// Catches a page left half-written, an earlier page damaged by a failed
// write, and temporary files left behind.
TEST_F(DiffHtmlPage, AnEarlierPageIsReplacedWholeOrLeftAsItWas) {
  const fs::path page = scratch_.path() / "REPORT.HTML";
  std::ofstream(page) << "an earlier page";
  const ProgramRun plain = RunDiff({Main().string(), Backup().string()});
  const ProgramRun drawn = RunDiff({"--html", page.string(), Main().string(), Backup().string()});
  EXPECT_EQ(drawn.status, 1);
  EXPECT_EQ(drawn.out, plain.out);  // the text report stays as it is
  const std::string text = ReadText(page);
  EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 8), "</html>\n");
  // --json's document, and the bytes only a page shows.
  json document = EmbeddedDocument(text);
  EXPECT_EQ(document.value("page_bytes", json()).value("ranges", json()).size(), 1u);
  document.erase("page_bytes");
  EXPECT_EQ(document, DiffJson(Main(), Backup()));

  // A folder in the page's place cannot be replaced: trouble, nothing left.
  const fs::path folder = scratch_.path() / "folder.html";
  fs::create_directory(folder);
  EXPECT_EQ(RunDiff({"--html", folder.string(), Main().string(), Backup().string()}).status, 2);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(
      RunDiff({"--html", (scratch_.path() / "none" / "x.html").string(), Main().string(), Backup().string()}).status,
      2);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(scratch_.path())) ++entries;
  EXPECT_EQ(entries, 4u);  // MAIN.BIN, BACKUP.BIN, REPORT.HTML, folder.html
}

// Catches a device node or a pipe replaced by a page file (renamed over it)
// and a page written over coming back with another mode.
TEST_F(DiffHtmlPage, OnlyARegularFileOrANewNameTakesThePageAndAPageKeepsItsMode) {
  const fs::path fifo = scratch_.path() / "pipe.html";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, scratch_.path() / "to-pipe.html");
  fs::create_symlink(scratch_.path() / "gone.html", scratch_.path() / "to-nothing.html");
  std::vector<fs::path> refused = {fifo, scratch_.path() / "to-pipe.html", scratch_.path() / "to-nothing.html"};
  // A device node needs root; /dev's own are never touched.
  const fs::path device = scratch_.path() / "null.html";
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) refused.push_back(device);
  for (const fs::path& target : refused) {
    const fs::file_type before = fs::symlink_status(target).type();
    const ProgramRun run = RunDiff({"--html", target.string(), Main().string(), Backup().string()});
    EXPECT_EQ(run.status, 2) << target;
    EXPECT_EQ(run.out, "") << target;
    EXPECT_EQ(run.err.rfind("pellrix-diff: --html ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(fs::symlink_status(target).type(), before) << target;
  }
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);

  // A private page stays private; a link to a page stays a link.
  const fs::path page = scratch_.path() / "private.html";
  std::ofstream(page) << "an earlier page";
  fs::permissions(page, fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = scratch_.path() / "latest.html";
  fs::create_symlink(page, link);
  for (const fs::path& target : {page, link})
    ASSERT_EQ(RunDiff({"--html", target.string(), Main().string(), Backup().string()}).status, 1) << target;
  EXPECT_EQ(fs::status(page).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(page).rfind("<!DOCTYPE html>", 0), 0u);
}

// Catches a dump's name (or any text from it) closing the script element
// that holds the document, which would run what follows as page code.
TEST_F(DiffHtmlPage, NoTextOfADumpCanCloseTheScriptThatHoldsTheDocument) {
  const fs::path hostile = scratch_.path() / "x<" / "script><script>alert(1)<!--";
  fs::create_directories(hostile);
  fs::copy_file(Main(), hostile / "MAIN.BIN");
  const fs::path page = scratch_.path() / "page.html";
  ASSERT_EQ(RunDiff({"--html", page.string(), (hostile / "MAIN.BIN").string(), Backup().string()}).status, 1);
  const std::string text = ReadText(page);
  EXPECT_EQ(Count(text, "</script"), 2u);  // the document's and the page's code
  EXPECT_EQ(Count(text, "<!--"), 0u);
  const json document = EmbeddedDocument(text);
  EXPECT_EQ(document["dumps"][0]["file"], (hostile / "MAIN.BIN").string());
}

// Catches a page that grows with the number of ranges (the 2 MB bound for a
// 64 MiB pair), and spans that lose ranges or bytes on the way.
TEST_F(DiffHtmlPage, ManyRangesAreEmbeddedAsBoundedSpansThatKeepEveryByte) {
  std::vector<uint8_t> bytes = sim::PseudoRandomBytes(16u << 20, 9);
  WriteBytes(Main(), bytes);
  for (size_t at = 0; at < bytes.size(); at += 80) bytes[at] ^= 0x5A;
  WriteBytes(Backup(), bytes);
  const fs::path page = scratch_.path() / "page.html";
  ASSERT_EQ(RunDiff({"--html", page.string(), "--bios-size=0x1000000", Main().string(), Backup().string()}).status, 1);
  EXPECT_LT(fs::file_size(page), 2u << 20);
  const json document = EmbeddedDocument(ReadText(page));
  EXPECT_FALSE(document.contains("differences"));
  const json& spans = document["differences_spans"]["spans"];
  EXPECT_LE(spans.size(), 4096u);
  uint64_t ranges = 0, differing = 0, previousEnd = 0;
  for (const json& span : spans) {
    ranges += span["ranges"].get<uint64_t>();
    differing += span["differing_bytes"].get<uint64_t>();
    EXPECT_GE(span["flash_offset"].get<uint64_t>(), previousEnd);
    previousEnd = span["flash_offset"].get<uint64_t>() + span["length"].get<uint64_t>();
  }
  EXPECT_EQ(ranges, document["summary"]["differing_ranges"].get<uint64_t>());
  EXPECT_EQ(ranges, (16u << 20) / 80 + 1);
  EXPECT_EQ(differing, document["summary"]["differing_bytes"].get<uint64_t>());
  EXPECT_LE(previousEnd, 16u << 20);
  // Catches exact ranges past their bound, not the dump's, or a span
  // claimed drawn exact whose ranges were cut off (the page would draw
  // gaps where bytes differ): exact_spans is the longest run of spans whose
  // ranges all fit.
  const json& exact = document["differences_spans"]["exact_ranges"];
  ASSERT_EQ(exact.size(), 3 * pdiff::kPageExactRanges);
  for (size_t i = 0; i < exact.size(); i += 4099) EXPECT_EQ(exact[i - i % 3 + 0].get<uint64_t>(), (i / 3) * 80) << i;
  EXPECT_EQ(exact[exact.size() - 2].get<uint64_t>(), 1u);
  const uint64_t exactSpans = document["differences_spans"]["exact_spans"].get<uint64_t>();
  uint64_t leading = 0;
  for (uint64_t i = 0; i < exactSpans; ++i) leading += spans[i]["ranges"].get<uint64_t>();
  EXPECT_LE(leading, pdiff::kPageExactRanges);
  ASSERT_LT(exactSpans, spans.size());
  EXPECT_GT(leading + spans[exactSpans]["ranges"].get<uint64_t>(), pdiff::kPageExactRanges);
}

// Catches a range that crosses a span boundary being split, counted twice
// or cut short, and a span size that lets the count exceed its bound.
TEST(RangeSpans, ARangeBelongsToTheSpanItStartsIn) {
  const std::vector<pdiff::DifferingRange> ranges = {
      {0x0FF0, 0x1010, 3, nullptr}, {0x1020, 0x1030, 2, nullptr}, {0x1F00, 0x2400, 5, nullptr}};
  const std::vector<pdiff::RangeSpan> spans = pdiff::GatherSpans(ranges, 0x100, 0x1000);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].flashOffset, 0x10F0u);
  EXPECT_EQ(spans[0].length, 0x40u);  // to the end of the second range
  EXPECT_EQ(spans[0].ranges, 2u);
  EXPECT_EQ(spans[1].flashOffset, 0x2000u);
  EXPECT_EQ(spans[1].length, 0x500u);
  EXPECT_EQ(spans[1].differingBytes, 5u);
  for (const uint64_t flash : {uint64_t(0x1000), uint64_t(64) << 20, uint64_t(1) << 32, uint64_t(3) << 30})
    EXPECT_LE((flash + pdiff::SpanSize(flash, 4096) - 1) / pdiff::SpanSize(flash, 4096), 4096u) << flash;
}

// Catches a digest taken over the masked bytes, or over the BIOS region
// instead of the whole file (reference from sha256sum).
TEST_F(DiffHtmlPage, EachDumpIsNamedByTheSha256OfTheFileAsRead) {
  WriteBytes(Main(), std::vector<uint8_t>(4096, 0));
  const ProgramRun info = RunDiff({"--info", "--json", Main().string()});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(json::parse(info.out)["sha256"], "ad7facb2586fc6e966c004d7d1d16b024f5805ff7cb47c7a85dabd8b48892ca7");
  const ProbePart part = BuildProbePart(ProbeDescriptor(), 1);
  WriteBytes(Main(), part.bytes);
  const json report = DiffJson(Main(), Backup());
  const ProgramRun reference = RunProgram("/usr/bin/sha256sum", {Main().string()});
  EXPECT_EQ(report["dumps"][0]["sha256"], reference.out.substr(0, 64));
  EXPECT_NE(report["dumps"][0]["sha256"], report["dumps"][1]["sha256"]);
}

}  // namespace
