// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "diff/compare/variable_value.h"

#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diff/compare/file_digest.h"
#include "fwtree/utf16_text.h"
#include "image/layout.h"

namespace pdiff {

namespace {

constexpr fwtree::Guid kGlobalVariable = fwtree::GuidFromText("8BE4DF61-93CA-11D2-AA0D-00E098032B8C");
constexpr fwtree::Guid kImageSecurityDatabase = fwtree::GuidFromText("D719B2CB-3D3A-4596-A3BC-DAD00E67656F");
constexpr fwtree::Guid kCustomModeVendor = fwtree::GuidFromText("C076EC0C-7028-4399-A072-71EE5C448B9F");
constexpr fwtree::Guid kSecureBootEnableVendor = fwtree::GuidFromText("F0A30BC7-AF08-4556-99C4-001009C93A44");
constexpr fwtree::Guid kVendorKeysNvVendor = fwtree::GuidFromText("9073E4E0-60EC-4B6E-9903-4C223C260F3C");
constexpr fwtree::Guid kCertX509 = fwtree::GuidFromText("A5C059A1-94E4-4AA7-87B5-AB155C2BF072");
constexpr fwtree::Guid kCertSha256 = fwtree::GuidFromText("C1C41626-504C-4092-ACA9-41F936934328");
constexpr fwtree::Guid kCertSha1 = fwtree::GuidFromText("826CA512-CF10-4AC9-B187-BE01496631BD");
constexpr fwtree::Guid kCertX509Sha256 = fwtree::GuidFromText("3BD2A492-96C0-4079-B420-FCF98EF103ED");

using image_layout::Load16;
using image_layout::Load32;

std::string HexBytes(const uint8_t* data, size_t size, const char* separator = "") {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    if (i > 0) text += separator;
    text += byte;
  }
  return text;
}

std::string Number(const char* format, uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(value));
  return text;
}

// Boot####, Driver####, SysPrep####, PlatformRecovery####.
bool IsLoadOption(const std::string& name) {
  for (const char* prefix : {"Boot", "Driver", "SysPrep", "PlatformRecovery"}) {
    const size_t length = std::strlen(prefix);
    if (name.size() == length + 4 && name.compare(0, length, prefix) == 0 &&
        name.find_first_not_of("0123456789ABCDEF", length) == std::string::npos)
      return true;
  }
  return false;
}

std::string OptionList(const std::vector<uint8_t>& data, const char* prefix) {
  std::string text;
  for (size_t at = 0; at + 2 <= data.size(); at += 2)
    text += (text.empty() ? "" : ", ") + std::string(prefix) + Number("%04X", Load16(data.data() + at));
  return text;
}

std::optional<std::string> LoadOptionText(const std::vector<uint8_t>& data) {
  if (data.size() < 6) return std::nullopt;
  const uint32_t attributes = Load32(data.data());
  const uint16_t pathLength = Load16(data.data() + 4);
  size_t end = 6;
  while (end + 2 <= data.size() && Load16(data.data() + end) != 0) end += 2;
  if (end + 2 > data.size() || data.size() - (end + 2) < pathLength) return std::nullopt;
  const std::string description = fwtree::Utf8FromUtf16(data.data() + 6, end - 6);
  return '"' + description + "\" " + ((attributes & 1) ? "active" : "inactive") + ((attributes & 8) ? ", hidden" : "") +
         ", " + DevicePathText(data.data() + end + 2, pathLength);
}

std::string AsciiText(const std::vector<uint8_t>& data) {
  std::string text;
  for (uint8_t byte : data) {
    if (byte == 0) break;
    text += char(byte);
  }
  return '"' + text + '"';
}

// The one-byte Secure Boot switches, each value in the words of the
// standard (or of EDK2, which defines the last three); another value is
// shown as it is.
struct Switch {
  const fwtree::Guid* vendor;
  const char* name;
  const char* one;
  const char* zero;
};
const Switch kSwitches[] = {
    {&kGlobalVariable, "SecureBoot", "enabled (1)", "disabled (0)"},
    {&kGlobalVariable, "SetupMode", "setup mode (1)", "user mode (0)"},
    {&kGlobalVariable, "AuditMode", "enabled (1)", "disabled (0)"},
    {&kGlobalVariable, "DeployedMode", "enabled (1)", "disabled (0)"},
    {&kGlobalVariable, "VendorKeys", "the vendor's keys, unmodified (1)", "keys modified since delivery (0)"},
    {&kCustomModeVendor, "CustomMode", "custom mode: keys changeable without signature (1)", "standard mode (0)"},
    {&kSecureBootEnableVendor, "SecureBootEnable", "Secure Boot enabled in setup (1)",
     "Secure Boot disabled in setup (0)"},
    {&kVendorKeysNvVendor, "VendorKeysNv", "the vendor's keys, unmodified (1)", "keys modified since delivery (0)"},
};

std::optional<std::string> SwitchText(const Switch& known, const std::vector<uint8_t>& data) {
  if (data.size() != 1) return std::nullopt;
  return data[0] == 1 ? known.one : data[0] == 0 ? known.zero : Number("0x%02x (neither 0 nor 1)", data[0]);
}

// The signature types a platform takes (SignatureSupport): GUIDs by name.
std::optional<std::string> SignatureTypesText(const std::vector<uint8_t>& data) {
  if (data.size() % 16 != 0) return std::nullopt;
  std::string text;
  for (size_t at = 0; at < data.size(); at += 16) {
    const fwtree::Guid type = fwtree::GuidAt(data.data() + at);
    text += (text.empty() ? "" : ", ") + std::string(type == kCertX509         ? "X509"
                                                     : type == kCertSha256     ? "SHA256"
                                                     : type == kCertSha1       ? "SHA1"
                                                     : type == kCertX509Sha256 ? "X509_SHA256"
                                                                               : fwtree::GuidText(type));
  }
  return text.empty() ? "(none)" : text;
}

std::string CertificateName(X509_NAME* name) {
  if (name == nullptr) return "";
  char text[512];
  X509_NAME_oneline(name, text, sizeof text);
  return text;
}

// The EFI_SIGNATURE_LISTs of a signature database, entry by entry up to
// kMostSignatureEntries, the rest counted in `leftOut`; false when a list's
// sizes run past the value.
bool ReadSignatureLists(const std::vector<uint8_t>& data, std::vector<SignatureEntry>* entries, uint64_t* leftOut) {
  size_t at = 0;
  while (at < data.size()) {
    if (data.size() - at < 28) return false;
    const fwtree::Guid type = fwtree::GuidAt(data.data() + at);
    const uint32_t listSize = Load32(data.data() + at + 16);
    const uint32_t headerSize = Load32(data.data() + at + 20);
    const uint32_t signatureSize = Load32(data.data() + at + 24);
    if (listSize < 28 || listSize > data.size() - at || signatureSize <= 16 || uint64_t(headerSize) + 28 > listSize)
      return false;
    const uint64_t first = at + 28 + uint64_t(headerSize);
    const uint64_t inList = (at + listSize - first) / signatureSize;
    const uint64_t room = kMostSignatureEntries - std::min<uint64_t>(kMostSignatureEntries, entries->size());
    *leftOut += inList - std::min(inList, room);
    for (uint64_t entry = first; entry + signatureSize <= at + listSize && entries->size() < kMostSignatureEntries;
         entry += signatureSize) {
      const uint8_t* owner = data.data() + entry;
      const uint8_t* body = owner + 16;
      const size_t bodySize = signatureSize - 16;
      SignatureEntry signature;
      signature.owner = fwtree::GuidText(fwtree::GuidAt(owner));
      if (type == kCertX509) {
        signature.type = "X509";
        signature.sha256 = Sha256Hex(body, bodySize);
        const unsigned char* der = body;
        if (X509* certificate = d2i_X509(nullptr, &der, long(bodySize))) {
          signature.subject = CertificateName(X509_get_subject_name(certificate));
          signature.issuer = CertificateName(X509_get_issuer_name(certificate));
          X509_free(certificate);
        } else {
          signature.subject = "(not a readable certificate)";
        }
      } else {
        signature.type = type == kCertSha256       ? "SHA256"
                         : type == kCertSha1       ? "SHA1"
                         : type == kCertX509Sha256 ? "X509_SHA256"
                                                   : fwtree::GuidText(type);
        signature.sha256 = HexBytes(body, bodySize);
      }
      entries->push_back(std::move(signature));
    }
    at += listSize;
  }
  return true;
}

}  // namespace

std::string DevicePathText(const uint8_t* data, size_t size) {
  std::string text;
  size_t at = 0;
  while (at + 4 <= size) {
    const uint8_t type = data[at];
    const uint8_t subtype = data[at + 1];
    const uint16_t length = Load16(data + at + 2);
    if (length < 4 || length > size - at) return text + (text.empty() ? "" : "/") + "(cut device path)";
    if (type == 0x7F && subtype == 0xFF) break;
    const uint8_t* node = data + at + 4;
    const size_t body = length - 4u;
    std::string part;
    if (type == 1 && subtype == 1 && body >= 2)
      part = "Pci(" + Number("0x%x", node[1]) + "," + Number("0x%x", node[0]) + ")";
    else if (type == 2 && subtype == 1 && body >= 8 && Load32(node) == 0x0A0341D0)
      part = "PciRoot(" + Number("0x%x", Load32(node + 4)) + ")";
    else if (type == 3 && subtype == 18 && body >= 6)
      part = "Sata(" + Number("0x%x", Load16(node)) + "," + Number("0x%x", Load16(node + 2)) + "," +
             Number("0x%x", Load16(node + 4)) + ")";
    else if (type == 3 && subtype == 23 && body >= 4)
      part = "NVMe(" + Number("0x%x", Load32(node)) + ")";
    else if (type == 3 && subtype == 5 && body >= 2)
      part = "USB(" + Number("0x%x", node[0]) + "," + Number("0x%x", node[1]) + ")";
    else if (type == 3 && subtype == 11 && body >= 6)
      part = "MAC(" + HexBytes(node, 6) + ")";
    else if (type == 4 && subtype == 1 && body >= 38)
      part = "HD(" + Number("%u", Load32(node)) + "," +
             (node[37] == 2 ? "GPT," + fwtree::GuidText(fwtree::GuidAt(node + 20)) : "MBR") + ")";
    else if (type == 4 && subtype == 4)
      part = fwtree::Utf8FromUtf16(node, body);
    else if (type == 4 && (subtype == 6 || subtype == 7) && body >= 16)
      part = std::string(subtype == 6 ? "FvFile(" : "Fv(") + fwtree::GuidText(fwtree::GuidAt(node)) + ")";
    else
      part = "Path(" + Number("%u", type) + "," + Number("%u", subtype) + ")";
    text += (text.empty() ? "" : "/") + part;
    at += length;
  }
  return text.empty() ? "(empty device path)" : text;
}

VariableValue DescribeValue(const std::string& name, const fwtree::Guid& vendor, const std::vector<uint8_t>& data) {
  VariableValue value;
  value.size = data.size();
  if (data.size() <= kMostHexValueBytes)
    value.hex = HexBytes(data.data(), data.size(), " ");
  else
    value.sha256 = Sha256Hex(data.data(), data.size());
  if (vendor == kGlobalVariable) {
    if (name == "Timeout" && data.size() == 2) value.decoded = Number("%u seconds", Load16(data.data()));
    if ((name == "BootNext" || name == "BootCurrent") && data.size() == 2) value.decoded = OptionList(data, "Boot");
    if (name == "BootOrder" || name == "DriverOrder" || name == "SysPrepOrder")
      value.decoded = data.empty() ? "(empty)"
                                   : OptionList(data, name == "DriverOrder"    ? "Driver"
                                                      : name == "SysPrepOrder" ? "SysPrep"
                                                                               : "Boot");
    if (IsLoadOption(name)) {
      value.decoded = LoadOptionText(data);
      if (!value.decoded) value.problem = "not a load option: its sizes run past its bytes";
    }
    if (name == "SignatureSupport") value.decoded = SignatureTypesText(data);
    if (name == "Lang" || name == "PlatformLang" || name == "LangCodes" || name == "PlatformLangCodes")
      value.decoded = AsciiText(data);
  }
  for (const Switch& known : kSwitches)
    if (vendor == *known.vendor && name == known.name) value.decoded = SwitchText(known, data);
  const bool database =
      (vendor == kGlobalVariable && (name == "PK" || name == "KEK" || name == "PKDefault" || name == "KEKDefault" ||
                                     name == "dbDefault" || name == "dbxDefault" || name == "dbtDefault")) ||
      (vendor == kImageSecurityDatabase && (name == "db" || name == "dbx" || name == "dbt" || name == "dbr"));
  if (database && !ReadSignatureLists(data, &value.signatures, &value.signaturesLeftOut))
    value.problem = "a signature list's sizes run past the value";
  if (database) {
    const uint64_t entries = value.signatures.size() + value.signaturesLeftOut;
    value.decoded = std::to_string(entries) + (entries == 1 ? " signature entry" : " signature entries");
    if (value.signaturesLeftOut > 0)
      *value.decoded += " (the first " + std::to_string(value.signatures.size()) + " listed, " +
                        std::to_string(value.signaturesLeftOut) + " left out)";
  }
  return value;
}

}  // namespace pdiff
