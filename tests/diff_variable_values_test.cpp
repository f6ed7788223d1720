// SPDX-License-Identifier: BSD-2-Clause-Patent
// pellrix-diff shows what a changed variable holds: decoded where its
// meaning is standard, in hexadecimal or by digest otherwise, and for the
// Secure Boot databases which certificates and hashes came or went.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "diff/compare/variable_value.h"
#include "tests/support/diff_support.h"

namespace {

using pdiff::DescribeValue;
using Bytes = std::vector<uint8_t>;

constexpr fwtree::Guid kGlobal = fwtree::GuidFromText("8BE4DF61-93CA-11D2-AA0D-00E098032B8C");
constexpr fwtree::Guid kOther = fwtree::GuidFromText("04B37FE8-F6AE-480B-BDD5-37D98C5E89AA");
constexpr fwtree::Guid kSecureBootEnable = fwtree::GuidFromText("F0A30BC7-AF08-4556-99C4-001009C93A44");
constexpr fwtree::Guid kCustomMode = fwtree::GuidFromText("C076EC0C-7028-4399-A072-71EE5C448B9F");
constexpr fwtree::Guid kX509Type = fwtree::GuidFromText("A5C059A1-94E4-4AA7-87B5-AB155C2BF072");
constexpr fwtree::Guid kSha256Type = fwtree::GuidFromText("C1C41626-504C-4092-ACA9-41F936934328");

Bytes Utf16(const std::u16string& text) {
  Bytes bytes;
  for (char16_t unit : text + u'\0') bytes.insert(bytes.end(), {uint8_t(unit), uint8_t(unit >> 8)});
  return bytes;
}

Bytes Concat(const fwtree::Guid& a, const fwtree::Guid& b) {
  Bytes bytes(a.size() + b.size());
  std::copy(a.begin(), a.end(), bytes.begin());
  std::copy(b.begin(), b.end(), bytes.begin() + a.size());
  return bytes;
}

// A load option: attributes, the path's length, the description, the path.
Bytes LoadOption(uint32_t attributes, const std::u16string& description, const Bytes& path) {
  Bytes option = {uint8_t(attributes), 0, 0, 0, uint8_t(path.size()), uint8_t(path.size() >> 8)};
  const Bytes text = Utf16(description);
  option.insert(option.end(), text.begin(), text.end());
  option.insert(option.end(), path.begin(), path.end());
  return option;
}

// Catches values read with the wrong width or meaning: each standard
// variable decoded (the Secure Boot switches in words), a foreign vendor's
// same name left undecoded, a load option whose sizes lie refused, hex only
// up to 64 bytes.
TEST(VariableValues, StandardValuesAreDecodedAndOthersShownAsBytes) {
  const Bytes pciPath = {2,    1,    12, 0, 0xD0, 0x41, 0x03, 0x0A, 0, 0, 0, 0,  // PciRoot(0x0)
                         1,    1,    6,  0, 0x00, 0x1F,                          // Pci(0x1f,0x0)
                         0x7F, 0xFF, 4,  0};
  Bytes cutOption = LoadOption(1, u"Cut", pciPath);
  cutOption[4] = 0xFF;
  const struct {
    const char* name;
    fwtree::Guid vendor;
    Bytes data;
    std::optional<std::string> decoded;
  } cases[] = {
      {"Timeout", kGlobal, {5, 0}, "5 seconds"},
      {"BootOrder", kGlobal, {3, 0, 0, 0, 0x0A, 0}, "Boot0003, Boot0000, Boot000A"},
      {"BootNext", kGlobal, {1, 0}, "Boot0001"},
      {"Boot0001", kGlobal, LoadOption(1, u"Disk", pciPath), "\"Disk\" active, PciRoot(0x0)/Pci(0x1f,0x0)"},
      {"Boot0002", kGlobal, LoadOption(8, u"Hidden", {0x7F, 0xFF, 4, 0}),
       "\"Hidden\" inactive, hidden, (empty device path)"},
      {"Boot0003", kGlobal, cutOption, std::nullopt},
      {"SecureBoot", kGlobal, {1}, "enabled (1)"},
      {"SetupMode", kGlobal, {0}, "user mode (0)"},
      {"SecureBootEnable", kSecureBootEnable, {1}, "Secure Boot enabled in setup (1)"},
      {"SecureBootEnable", kSecureBootEnable, {2}, "0x02 (neither 0 nor 1)"},
      {"SecureBootEnable", kGlobal, {1}, std::nullopt},
      {"CustomMode", kCustomMode, {0}, "standard mode (0)"},
      {"CustomMode", kCustomMode, {1}, "custom mode: keys changeable without signature (1)"},
      {"VendorKeys", kGlobal, {0}, "keys modified since delivery (0)"},
      {"SignatureSupport", kGlobal, Concat(kX509Type, kSha256Type), "X509, SHA256"},
      {"SignatureSupport", kGlobal, {1, 2, 3}, std::nullopt},
      {"PlatformLang", kGlobal, {'e', 'n', '-', 'U', 'S', 0}, "\"en-US\""},
      {"Timeout", kOther, {5, 0}, std::nullopt},
  };
  for (const auto& test : cases) {
    const pdiff::VariableValue value = DescribeValue(test.name, test.vendor, test.data);
    EXPECT_EQ(value.decoded, test.decoded) << test.name;
    EXPECT_TRUE(value.hex.has_value()) << test.name;
  }
  EXPECT_FALSE(DescribeValue("Boot0003", kGlobal, cutOption).problem.empty());
  const pdiff::VariableValue hex = DescribeValue("Blob", kOther, Bytes(64, 0xAB));
  EXPECT_EQ(hex.hex->size(), 64u * 3 - 1);
  EXPECT_FALSE(hex.sha256.has_value());
  const pdiff::VariableValue digest = DescribeValue("Blob", kOther, Bytes(65, 0xAB));
  EXPECT_FALSE(digest.hex.has_value());
  EXPECT_EQ(digest.sha256->size(), 64u);
}

// Catches a database change read only as a size: Debian's Microsoft-enrolled
// store against its snake-oil one names each certificate Backup added and
// removed, by subject, issuer and SHA-256, in the text and the JSON.
TEST(VariableValues, SignatureDatabasesSayWhichCertificatesCameAndWent) {
  const std::filesystem::path ms = "/usr/share/OVMF/OVMF_VARS_4M.ms.fd";
  const std::filesystem::path snakeoil = "/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd";
  if (!std::filesystem::exists(ms) || !std::filesystem::exists(snakeoil)) GTEST_SKIP() << "package ovmf not installed";
  const nlohmann::json report = support::DiffJson(ms, snakeoil);
  const nlohmann::json* db = nullptr;
  for (const nlohmann::json& variable : report["variables"])
    if (variable["name"] == "db") db = &variable;
  ASSERT_NE(db, nullptr) << report["variables"];
  ASSERT_EQ((*db)["added"].size(), 1u) << *db;
  EXPECT_NE((*db)["added"][0]["subject"].get<std::string>().find("O=SnakeOil"), std::string::npos);
  EXPECT_EQ((*db)["added"][0]["sha256"].get<std::string>().size(), 64u);
  ASSERT_EQ((*db)["removed"].size(), 2u) << *db;
  for (const nlohmann::json& removed : (*db)["removed"])
    EXPECT_NE(removed["issuer"].get<std::string>().find("Microsoft"), std::string::npos) << removed;
  EXPECT_EQ((*db)["main"]["value"]["signatures"].size(), 2u);
  const std::string text = support::RunDiff({ms.string(), snakeoil.string()}).out;
  EXPECT_NE(text.find("added in Backup: X509 subject /C=US/ST=Colorado/L=Fort Collins/O=SnakeOil"), std::string::npos);
  EXPECT_NE(text.find("removed in Backup: X509 subject /C=US/ST=Washington/L=Redmond/O=Microsoft Corporation/CN="
                      "Microsoft Windows Production PCA 2011"),
            std::string::npos);
}

}  // namespace
