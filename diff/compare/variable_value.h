// SPDX-License-Identifier: BSD-2-Clause-Patent
// A variable's value as a person reads it: decoded where the UEFI
// standard (or EDK2) fixes its meaning (Timeout, BootOrder, Boot####, the
// Secure Boot switches in words, the signature types supported, the
// languages, the signature databases), else its bytes in hexadecimal when
// short, or its size and SHA-256.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fwtree/guid.h"

namespace pdiff {

// Values up to this many bytes are shown whole in hexadecimal.
constexpr size_t kMostHexValueBytes = 64;

// Entries of one signature database decoded and listed: far more than a
// real db or dbx holds, few enough that a value of a million tiny entries
// costs no more than a real one.
constexpr uint64_t kMostSignatureEntries = 4096;

// One entry of an EFI_SIGNATURE_LIST: an X.509 certificate or a hash.
struct SignatureEntry {
  std::string type;     // "X509", "SHA256", ... or the type GUID
  std::string owner;    // the owner GUID
  std::string subject;  // X.509 only
  std::string issuer;   // X.509 only
  std::string sha256;   // of the certificate's DER bytes, or the hash itself
  std::string key() const { return type + ' ' + sha256; }
};

struct VariableValue {
  uint64_t size = 0;
  std::optional<std::string> decoded;      // the meaning, where it is standard
  std::optional<std::string> hex;          // the bytes, up to kMostHexValueBytes
  std::optional<std::string> sha256;       // longer values
  std::vector<SignatureEntry> signatures;  // PK, KEK, db, dbx and their kin: the first kMostSignatureEntries
  uint64_t signaturesLeftOut = 0;          // entries past those, counted only
  std::string problem;                     // why a standard value did not decode
};

VariableValue DescribeValue(const std::string& name, const fwtree::Guid& vendor, const std::vector<uint8_t>& data);

// An EFI device path as the UEFI Shell prints it, for the common nodes;
// others as Path(type,subtype).
std::string DevicePathText(const uint8_t* data, size_t size);

}  // namespace pdiff
