// SPDX-License-Identifier: BSD-2-Clause-Patent
// The boot application's files (runtime/uefi/volume_files.cpp) on a simple
// file system in memory: the paths it builds, FAT's rules it must live with,
// and every failure a stick can give reaching the caller as a failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/file_stream.h"
#include "runtime/volume_files.h"
#include "tests/volume_files/fake_volume.h"

namespace {

struct VolumeFiles : testing::Test {
  FakeVolume volume;
  void SetUp() override {
    InstallFakeVolume(&volume);
    ASSERT_TRUE(OpenLoadedVolume());
    SetWorkingFolder("");
  }
  // Every handle the backend opened was closed: the firmware's are few.
  void TearDown() override { EXPECT_EQ(volume.OpenHandles, 0); }

  bool Write(const char* name, const std::string& data) {
    FileStream* stream = OpenFileStream(name, "wb");
    if (stream == nullptr) return false;
    bool whole = WriteFileStream(stream, data.data(), data.size()) == data.size();
    return CloseFileStream(stream) && whole;
  }
  bool Has(const std::string& path) { return volume.Entries.count(path) != 0; }
};

void CollectName(void* context, const char* name) { static_cast<std::vector<std::string>*>(context)->push_back(name); }

// Catches: a file created at the root instead of the run folder, an older
// file's tail kept after a shorter rewrite, a rename onto a taken name that
// overwrites it (FAT refuses it), deleted space not given back, the read-back
// reading other bytes or past its capacity, a root listing that misses an
// entry, a folder reported as a file.
TEST_F(VolumeFiles, RunFolderFilesAreWrittenReadRenamedAndDeletedInPlace) {
  ASSERT_TRUE(CreateFolder("RUN001"));
  EXPECT_TRUE(CreateFolder("RUN001"));  // already there
  EXPECT_TRUE(FolderExists("RUN001"));
  SetWorkingFolder("RUN001");
  ASSERT_TRUE(Write("RESULT.TXT.NEW", "a longer first text"));
  ASSERT_TRUE(Write("RESULT.TXT.NEW", "PASS\r\n"));
  EXPECT_EQ(volume.Entries["RUN001\\RESULT.TXT.NEW"].Data, "PASS\r\n");
  EXPECT_FALSE(Has("RESULT.TXT.NEW"));
  char buffer[16] = {};
  EXPECT_EQ(ReadVolumeFile("RESULT.TXT.NEW", buffer, sizeof buffer), 6u);
  EXPECT_EQ(std::string(buffer, 6), "PASS\r\n");
  EXPECT_EQ(ReadVolumeFile("RESULT.TXT.NEW", buffer, 3), 3u);
  EXPECT_EQ(ReadVolumeFile("MISSING", buffer, sizeof buffer), 0u);

  ASSERT_TRUE(Write("OTHER", "x"));
  EXPECT_FALSE(RenameFile("RESULT.TXT.NEW", "OTHER"));
  EXPECT_EQ(volume.Entries["RUN001\\OTHER"].Data, "x");
  ASSERT_TRUE(RenameFile("RESULT.TXT.NEW", "RESULT.TXT"));
  EXPECT_TRUE(FileExists("RESULT.TXT"));
  EXPECT_FALSE(FileExists("RESULT.TXT.NEW"));
  EXPECT_FALSE(FolderExists("RESULT.TXT"));

  uint64_t freeBefore = 0;
  uint32_t cluster = 0;
  ASSERT_TRUE(QueryFreeSpace(&freeBefore, &cluster));
  EXPECT_EQ(cluster, 4096u);
  EXPECT_TRUE(RemoveFile("OTHER"));
  EXPECT_TRUE(RemoveFile("OTHER"));  // gone already
  uint64_t freeAfter = 0;
  ASSERT_TRUE(QueryFreeSpace(&freeAfter, &cluster));
  EXPECT_EQ(freeAfter, freeBefore + 4096);

  SetWorkingFolder("");
  ASSERT_TRUE(CreateFolder("RUN007"));
  ASSERT_TRUE(Write("README.TXT", "r"));
  std::vector<std::string> names;
  EXPECT_TRUE(ForEachRootEntry(CollectName, &names));
  EXPECT_EQ(names, (std::vector<std::string>{"README.TXT", "RUN001", "RUN007"}));
}

// Catches: a failure of the stick taken for success: a write-protected stick
// (no folder, file or log), a write or flush that fails, a full stick that
// takes part of the data, a folder in a file's place written "successfully",
// a rename that fails yet loses the file, free space invented when the
// volume reports none, a device without a file system taken for the volume.
TEST_F(VolumeFiles, EveryFailureOfTheStickReachesTheCaller) {
  struct Case {
    const char* name;
    void (*arrange)(FakeVolume&);
  };
  const Case cases[] = {
      {"write-protected", [](FakeVolume& v) { v.Fail.CreateRefused = true; }},
      {"write fails", [](FakeVolume& v) { v.Fail.WriteFails = true; }},
      {"flush fails", [](FakeVolume& v) { v.Fail.FlushFails = true; }},
      {"full", [](FakeVolume& v) { v.FreeBytes = 4096; }},
      {"folder in the way",
       [](FakeVolume& v) {
         v.Entries["DATA.BIN"] = FakeEntry{true, {}};
       }},
  };
  const std::string data(3 * 4096, 'd');
  for (const Case& c : cases) {
    volume = FakeVolume{};
    c.arrange(volume);
    // Refused at the open, or failed at the close whatever the writes said.
    if (FileStream* stream = OpenFileStream("DATA.BIN", "wb")) {
      WriteFileStream(stream, data.data(), data.size());
      EXPECT_FALSE(CloseFileStream(stream)) << c.name;
    }
  }
  volume = FakeVolume{};
  volume.Fail.CreateRefused = true;
  EXPECT_FALSE(CreateFolder("RUN002"));
  EXPECT_FALSE(OpenVolumeLog("PELLRIX.LOG", 1024));

  volume = FakeVolume{};
  ASSERT_TRUE(Write("A.NEW", "a"));
  volume.Fail.RenameFails = true;
  EXPECT_FALSE(RenameFile("A.NEW", "A"));
  EXPECT_EQ(volume.Entries["A.NEW"].Data, "a");

  volume.Fail.InfoUnreported = true;
  uint64_t freeBytes = 0;
  uint32_t cluster = 0;
  EXPECT_FALSE(QueryFreeSpace(&freeBytes, &cluster));

  InstallFakeVolume(nullptr);
  EXPECT_FALSE(OpenLoadedVolume());
  InstallFakeVolume(&volume);
  ASSERT_TRUE(OpenLoadedVolume());
}

// Catches: a log that grows past its bound (a long run filling the stick),
// text held in memory and lost at the close, an earlier log's bytes kept.
TEST_F(VolumeFiles, TheLogKeepsItsBoundAndReachesTheStick) {
  volume.Entries["PELLRIX.LOG"] = FakeEntry{false, std::string(100, 'o')};
  ASSERT_TRUE(OpenVolumeLog("PELLRIX.LOG", 10));
  AppendVolumeLog("0123456", 7);
  FlushVolumeLog();
  EXPECT_EQ(volume.Entries["PELLRIX.LOG"].Data, "0123456");
  AppendVolumeLog("789abcdef", 9);
  CloseVolumeLog();
  EXPECT_EQ(volume.Entries["PELLRIX.LOG"].Data, "0123456789");
  AppendVolumeLog("after", 5);  // no log open: nothing happens
  EXPECT_EQ(volume.Entries["PELLRIX.LOG"].Data, "0123456789");
}

// Catches: a delete the stick refused reported as done (the caller would
// then write a name that is still taken, or count a leftover as gone), and
// the size of a file misreported or a folder given a size.
TEST_F(VolumeFiles, ARefusedDeleteIsNotDone) {
  ASSERT_TRUE(Write("MAIN.BIN", "chip"));
  ASSERT_TRUE(CreateFolder("PELLRIX.REC"));
  volume.Fail.DeleteRefused = true;
  EXPECT_FALSE(RemoveFile("MAIN.BIN"));
  EXPECT_TRUE(Has("MAIN.BIN"));
  EXPECT_FALSE(RemoveEmptyFolder("PELLRIX.REC"));
  EXPECT_TRUE(Has("PELLRIX.REC"));
  // Opening for a fresh write deletes the old file first: refused, no stream.
  EXPECT_EQ(OpenFileStream("MAIN.BIN", "wb"), nullptr);
  EXPECT_EQ(volume.Entries["MAIN.BIN"].Data, "chip");
  volume.Fail.DeleteRefused = false;
  uint64_t size = 1;
  EXPECT_TRUE(VolumeFileSize("MAIN.BIN", &size));
  EXPECT_EQ(size, 4u);
  EXPECT_FALSE(VolumeFileSize("PELLRIX.REC", &size));
  EXPECT_FALSE(VolumeFileSize("ABSENT.BIN", &size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(RemoveFile("MAIN.BIN"));
  EXPECT_FALSE(Has("MAIN.BIN"));
}

// Catches: a log write the stick refused counted as written (the log then
// jumps from its start into a later line, and the kit calls it whole), and
// a log cut at its bound called whole.
TEST_F(VolumeFiles, ALogWriteThatFailsEndsTheLogAndIsReported) {
  ASSERT_TRUE(OpenVolumeLog("PELLRIX.LOG", 1 << 20));
  AppendVolumeLog("header\n", 7);
  FlushVolumeLog();
  EXPECT_TRUE(VolumeLogWhole());
  volume.Fail.WritesBeforeFailure = 0;
  AppendVolumeLog("progress 10%\n", 13);
  FlushVolumeLog();
  volume.Fail = FakeVolumeFailures{};
  AppendVolumeLog("progress 90%\n", 13);
  CloseVolumeLog();
  EXPECT_EQ(volume.Entries["PELLRIX.LOG"].Data, "header\n");
  EXPECT_FALSE(VolumeLogWhole());

  ASSERT_TRUE(OpenVolumeLog("PELLRIX.LOG", 4));
  AppendVolumeLog("abcd", 4);
  EXPECT_TRUE(VolumeLogWhole());
  AppendVolumeLog("e", 1);
  CloseVolumeLog();
  EXPECT_FALSE(VolumeLogWhole());
  EXPECT_EQ(volume.Entries["PELLRIX.LOG"].Data, "abcd");
}

}  // namespace
