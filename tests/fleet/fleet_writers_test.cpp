// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-fleet's writers and readers turned against the user: the page and
// the cache never replace anything but their own regular file, and hostile
// lines and cache entries end no run.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/fleet/fleet_boards.h"
#include "tests/support/diff_support.h"
#include "tests/support/sim_support.h"

namespace {

namespace fs = std::filesystem;
using fleetsupport::BuildChip;
using fleetsupport::ChipVariant;
using fleetsupport::WriteFile;
using fleetsupport::WriteRunFolder;

support::ProgramRun Fleet(const std::vector<std::string>& arguments) {
  return support::RunProgram(PELLRIX_FLEET_PATH, arguments);
}

void WriteText(const fs::path& path, const std::string& text) { WriteFile(path, sim::Bytes(text.begin(), text.end())); }

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a target is, to see that a refused run left it as it was.
std::string Look(const fs::path& path) {
  const fs::file_status status = fs::symlink_status(path);
  // Appended piece by piece: GCC 12 at -O3 takes a literal joined to a
  // temporary string for an overlapping copy (-Wrestrict).
  std::string look = std::to_string(int(status.type()));
  look += ':';
  look += std::to_string(int(status.permissions()));
  look += ':';
  if (status.type() == fs::file_type::regular) look += ReadText(path);
  if (status.type() == fs::file_type::symlink) look += fs::read_symlink(path).string();
  return look;
}

struct Archive {
  support::TempDir scratch;
  fs::path golden() const { return scratch.path() / "golden.bin"; }
  fs::path boards() const { return scratch.path() / "boards"; }
  fs::path main() const { return boards() / "RUN001" / "MAIN.BIN"; }
  fs::path lines() const { return scratch.path() / "lines.jsonl"; }
  Archive() {
    WriteFile(golden(), BuildChip(ChipVariant::Golden));
    WriteRunFolder(boards() / "RUN001", {BuildChip(ChipVariant::Golden), BuildChip(ChipVariant::DriverChanged)}, "");
    const support::ProgramRun map = Fleet({"signature", golden(), boards()});
    WriteText(lines(), map.out);
  }
};

// Faults: the page or the cache renamed over the golden image, a board's
// dump, group's input, a device node, a FIFO (or blocking on it), a link to
// one, a folder, or written into a missing folder with exit 0; "-" taken as
// a file name; a fixed temporary name through which a planted link is
// written.
TEST(FleetWriters, NothingButTheirOwnFileIsReplaced) {
  Archive a;
  const fs::path place = a.scratch.path();
  ASSERT_EQ(mkfifo((place / "fifo").c_str(), 0600), 0);
  fs::create_symlink(place / "fifo", place / "to-fifo");
  fs::create_symlink(a.golden(), place / "to-golden");
  fs::create_symlink(place / "gone", place / "to-nothing");
  fs::create_directories(place / "folder");
  WriteText(place / "notes.txt", "a lab's notes, not a page");
  std::vector<fs::path> targets = {a.golden(),
                                   a.main(),
                                   a.lines(),
                                   place / "fifo",
                                   place / "to-fifo",
                                   place / "to-golden",
                                   place / "to-nothing",
                                   place / "folder",
                                   place / "notes.txt",
                                   place / "none" / "page.html"};
  // A device node needs root; /dev's own are never touched.
  if (mknod((place / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) targets.push_back(place / "null");
  for (const fs::path& target : targets) {
    const std::string before = Look(target);
    for (const char* option : {"--html", "--cache"}) {
      const support::ProgramRun run = Fleet({option, target, a.golden(), a.boards()});
      EXPECT_EQ(run.status, 2) << option << " " << target << ": " << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(Look(target), before) << option << " " << target;
    }
    const support::ProgramRun group = Fleet({"group", "--html", target, a.lines()});
    EXPECT_EQ(group.status, 2) << target << ": " << group.err;
    EXPECT_EQ(Look(target), before) << target;
  }
  for (const char* name : {"", "-"}) {
    EXPECT_EQ(Fleet({"--html", name, a.golden(), a.boards()}).status, 2) << name;
    EXPECT_EQ(Fleet({"--cache", name, a.golden(), a.boards()}).status, 2) << name;
  }
  EXPECT_FALSE(fs::exists(fs::current_path() / "-"));

  // A link planted where a fixed temporary name would be.
  const fs::path cache = place / "fleet.cache";
  WriteText(place / "victim.txt", "victim");
  fs::create_symlink(place / "victim.txt", place / "fleet.cache.new");
  EXPECT_EQ(Fleet({"--cache", cache, a.golden(), a.boards()}).status, 1);
  EXPECT_EQ(ReadText(place / "victim.txt"), "victim");
  EXPECT_EQ(ReadText(cache).rfind("{\"pellrix_fleet_cache\"", 0), 0u);
  // Nothing left beside the targets: golden, boards, lines, the nine made
  // above (ten with the device), the victim, its link and the cache.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(place)) ++entries;
  EXPECT_EQ(entries, 12 + (targets.size() - 10));
}

// Faults: a private page or cache widened to 0644 when written over; a link
// to an earlier page replaced by the page instead of followed; an earlier
// page of pellrix-diff or the fleet refused.
TEST(FleetWriters, TheirOwnFilesKeepModeAndLinks) {
  Archive a;
  const fs::path page = a.scratch.path() / "fleet.html";
  const fs::path cache = a.scratch.path() / "fleet.cache";
  ASSERT_EQ(Fleet({"--html", page, "--cache", cache, a.golden(), a.boards()}).status, 1);
  fs::permissions(page, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(cache, fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = a.scratch.path() / "latest.html";
  fs::create_symlink(page, link);
  // A chip newer than its cache entry: the cache is written again.
  ASSERT_EQ(utimensat(AT_FDCWD, a.main().c_str(), nullptr, 0), 0);
  ASSERT_EQ(Fleet({"--html", link, "--cache", cache, a.golden(), a.boards()}).status, 1);
  ASSERT_EQ(Fleet({"group", "--html", page, a.lines()}).status, 1);
  for (const fs::path& file : {page, cache})
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write) << file;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(page).find("<!DOCTYPE html>"), 0u);
  // pellrix-diff's page may be written over too.
  const fs::path report = a.scratch.path() / "report.html";
  WriteText(report, "<!DOCTYPE html>\n<html><head><title>pellrix-diff report</title></head></html>\n");
  EXPECT_EQ(Fleet({"--html", report, a.golden(), a.boards()}).status, 1);
  EXPECT_NE(ReadText(report).find("<title>pellrix-fleet</title>"), std::string::npos);
}

// Faults: group dereferencing a run line without its result (SIGSEGV); a
// line or cache entry nested 400,000 deep ending every run that reads it
// (a recursive parse or dump).
TEST(FleetWriters, HostileLinesAndCacheEntriesEndNoRun) {
  Archive a;
  const std::string deep = std::string(400000, '[') + std::string(400000, ']');
  const fs::path hostile = a.scratch.path() / "hostile.jsonl";
  WriteText(hostile, "{\"kind\":\"run\"}\n{\"kind\":\"run\",\"result\":7}\n{\"kind\":\"board\",\"chips\":" + deep +
                         "}\n" + deep + "\n");
  const support::ProgramRun group = Fleet({"group", "--json", hostile, a.lines()});
  EXPECT_EQ(group.status, 2) << group.err;
  const nlohmann::json document = nlohmann::json::parse(group.out, nullptr, false);
  EXPECT_EQ(document["boards"], 1) << group.out;
  EXPECT_EQ(document["runs_without_dumps"].size(), 0u) << group.out;  // no run without its verdict
  EXPECT_EQ(document["not_read"].size(), 4u) << group.out;
  const fs::path cache = a.scratch.path() / "fleet.cache";
  ASSERT_EQ(Fleet({"--cache", cache, a.golden(), a.boards()}).status, 1);
  std::string text = ReadText(cache);
  text += "{\"file\":\"x\",\"stamp\":[1,2,3,4,5],\"chip\":" + deep + "}\n";
  WriteText(cache, text);
  for (int run = 0; run < 2; ++run) {
    const support::ProgramRun cached = Fleet({"--cache", cache, a.golden(), a.boards()});
    EXPECT_EQ(cached.status, 1) << cached.err;
  }
}

// Faults: a closed standard output ending the run silently or with status
// 0, or its number taken by a file the run opens (the page), so that the
// text lands in it.
TEST(FleetWriters, AClosedStandardOutputIsTroubleInOneLine) {
  Archive a;
  const fs::path page = a.scratch.path() / "fleet.html";
  const fs::path err = a.scratch.path() / "err.txt";
  for (const char* mode : {"run", "group"}) {
    const std::vector<std::string> arguments =
        std::string(mode) == "run"
            ? std::vector<std::string>{PELLRIX_FLEET_PATH, "--html", page, a.golden(), a.boards()}
            : std::vector<std::string>{PELLRIX_FLEET_PATH, "group", "--html", page, a.lines()};
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(99);
      close(fd);
      close(STDOUT_FILENO);
      std::vector<char*> argv;
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(98);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << mode;
    EXPECT_EQ(WEXITSTATUS(status), 2) << mode;
    EXPECT_EQ(ReadText(err), "pellrix-fleet: standard output: write error\n") << mode;
    const std::string drawn = ReadText(page);
    EXPECT_EQ(drawn.rfind("<!DOCTYPE html>", 0), 0u) << mode;
    EXPECT_EQ(drawn.find("1 board: Backup differs"), std::string::npos) << mode;  // no text in the page
  }
  // A pipe whose reader has gone: status 2 and not a word, as pellrix-diff.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0 || dup2(ends[1], STDOUT_FILENO) < 0) _exit(99);
    const std::string golden = a.golden(), boards = a.boards();
    execl(PELLRIX_FLEET_PATH, PELLRIX_FLEET_PATH, golden.c_str(), boards.c_str(), static_cast<char*>(nullptr));
    _exit(98);
  }
  close(ends[1]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(ReadText(err), "");
}

}  // namespace
