// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: a variable's value as pellrix-diff describes it. The
// first byte picks a standard name (Boot####, BootOrder, the Secure Boot
// modes, the languages, the signature databases, or none), the rest is the
// value. A signature database lists at most kMostSignatureEntries entries
// and counts the rest; device paths are read within their bytes.
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "diff/compare/variable_value.h"

namespace {

constexpr fwtree::Guid kGlobalVariable = fwtree::GuidFromText("8BE4DF61-93CA-11D2-AA0D-00E098032B8C");
constexpr fwtree::Guid kImageSecurityDatabase = fwtree::GuidFromText("D719B2CB-3D3A-4596-A3BC-DAD00E67656F");
constexpr fwtree::Guid kCustomModeVendor = fwtree::GuidFromText("C076EC0C-7028-4399-A072-71EE5C448B9F");

struct Named {
  const char* name;
  fwtree::Guid vendor;
};

constexpr Named kNames[] = {
    {"Timeout", kGlobalVariable},     {"BootNext", kGlobalVariable},     {"BootOrder", kGlobalVariable},
    {"DriverOrder", kGlobalVariable}, {"Boot0001", kGlobalVariable},     {"Driver0002", kGlobalVariable},
    {"SecureBoot", kGlobalVariable},  {"SetupMode", kGlobalVariable},    {"PlatformLang", kGlobalVariable},
    {"PK", kGlobalVariable},          {"KEK", kGlobalVariable},          {"db", kImageSecurityDatabase},
    {"dbx", kImageSecurityDatabase},  {"CustomMode", kCustomModeVendor}, {"Other", kCustomModeVendor},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Named& named = kNames[data[0] % std::size(kNames)];
  const std::vector<uint8_t> value(data + 1, data + size);
  const pdiff::VariableValue described = pdiff::DescribeValue(named.name, named.vendor, value);
  if (described.size != value.size()) __builtin_trap();
  if (described.signatures.size() > pdiff::kMostSignatureEntries) __builtin_trap();
  if (described.signaturesLeftOut > 0 && described.signatures.size() != pdiff::kMostSignatureEntries) __builtin_trap();
  // Every entry takes at least 17 bytes of the value.
  if ((described.signatures.size() + described.signaturesLeftOut) * 17 > value.size()) __builtin_trap();
  if (described.hex.has_value() == described.sha256.has_value()) __builtin_trap();
  pdiff::DevicePathText(value.data(), value.size());
  return 0;
}
