// SPDX-License-Identifier: BSD-2-Clause-Patent
// libFuzzer target: the certificate decoder of the signature databases. The
// input is the DER of one X.509 certificate (or anything) put in a db value
// as one EFI_SIGNATURE_LIST entry: it must decode to one entry whose
// fingerprint is the input's, whatever the bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "diff/compare/file_digest.h"
#include "diff/compare/variable_value.h"

namespace {

constexpr fwtree::Guid kImageSecurityDatabase = fwtree::GuidFromText("D719B2CB-3D3A-4596-A3BC-DAD00E67656F");
// EFI_CERT_X509_GUID as stored.
constexpr uint8_t kCertX509[16] = {0xA1, 0x59, 0xC0, 0xA5, 0xE4, 0x94, 0xA7, 0x4A,
                                   0x87, 0xB5, 0xAB, 0x15, 0x5C, 0x2B, 0xF0, 0x72};

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1u << 16) return 0;
  const uint32_t signatureSize = uint32_t(16 + size);
  std::vector<uint8_t> value(28 + signatureSize, 0);
  std::memcpy(value.data(), kCertX509, 16);
  Put32(value, 16, uint32_t(value.size()));
  Put32(value, 20, 0);
  Put32(value, 24, signatureSize);
  std::memset(value.data() + 28, 0x11, 16);  // the owner
  std::memcpy(value.data() + 44, data, size);
  const pdiff::VariableValue described = pdiff::DescribeValue("db", kImageSecurityDatabase, value);
  if (!described.problem.empty() || described.signatures.size() != 1) __builtin_trap();
  const pdiff::SignatureEntry& entry = described.signatures.front();
  if (entry.type != "X509" || entry.sha256 != pdiff::Sha256Hex(data, size)) __builtin_trap();
  return 0;
}
