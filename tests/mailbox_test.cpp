// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SMI flash mailbox: FADT lookup, handshake, geometry and requests.
#include <gtest/gtest.h>

#include <cstring>

#include "firmware/mailbox.h"
#include "tests/support/sim_support.h"
#include "runtime/efi_acpi_sdt.h"

namespace {

class Mailbox : public ::testing::Test {
 protected:
  void SetUp() override { ResetToolState(); }
  sim::Board board_ = support::PatternBoard(0x1000000, 0xC00000, 0x10000);
};

TEST_F(Mailbox, HandshakeFixesTheSignatureAndReportsGeometry) {
  board_.main.part_name = "W25Q128JV";
  sim::Machine machine(board_);
  uint8_t partArea[kPartAreaSize];
  std::memset(partArea, 0xEE, sizeof partArea);
  uint32_t flash = 0, bios = 0, block = 0;
  ASSERT_EQ(QueryFlashMailbox(partArea, &flash, &bios, &block), kEfiSuccess);
  EXPECT_EQ(gTool.MailboxSignature, kSignatureQvt);
  EXPECT_EQ(flash, 0x1000000u);
  EXPECT_EQ(bios, 0xC00000u);
  EXPECT_EQ(block, 0x10000u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(partArea + kPartInfoSize)), "W25Q128JV");
  EXPECT_EQ(partArea[kPartAreaSize - 1], 0);
  EXPECT_EQ(gTool.SmiCommandPort, 0xB2);
  EXPECT_NE(gTool.FadtPointer, nullptr);
  EXPECT_EQ(machine.report().pool_outstanding + machine.impl().pool.live_blocks(), 0u);
}

// A broken firmware whose table list never ends.
EFI_STATUS EFIAPI EndlessTables(UINTN, EFI_ACPI_SDT_HEADER** table, EFI_ACPI_TABLE_VERSION* version, UINTN* key) {
  static EFI_ACPI_SDT_HEADER notTheFadt = {};
  notTheFadt.Signature = 0x54444953;  // "SIDT"
  notTheFadt.Length = sizeof notTheFadt;
  ++sim::CurrentMachine().report().get_acpi_table_calls;
  *table = &notTheFadt;
  *version = 2;
  *key = 1;
  return kEfiSuccess;
}

TEST_F(Mailbox, AnEndlessTableListEndsAsNoFadt) {
  sim::Machine machine(board_);
  machine.impl().acpi_sdt.GetAcpiTable = EndlessTables;
  const EFI_ACPI_SDT_HEADER* fadt = nullptr;
  EXPECT_EQ(FindFadt(&fadt), kEfiNotFound);
  EXPECT_EQ(fadt, nullptr);
  EXPECT_EQ(machine.report().get_acpi_table_calls, 1024u);
  // The query then fails as on a board without a FADT: no SMI at all.
  EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiNotFound);
  EXPECT_EQ(machine.report().smi.query, 0u);
}

TEST_F(Mailbox, SecondQueryRepeatsTheHandshakeWithoutAcpi) {
  sim::Machine machine(board_);
  ASSERT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
  EXPECT_EQ(gTool.MailboxSignature, kSignatureQvt);
  uint64_t tableReads = machine.report().get_acpi_table_calls;
  machine.board().mailbox = sim::MailboxMode::Qv1;
  ASSERT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
  EXPECT_EQ(gTool.MailboxSignature, kSignatureQv1);
  EXPECT_EQ(machine.report().get_acpi_table_calls, tableReads);
  EXPECT_EQ(machine.report().smi.query, 2u);
}

TEST_F(Mailbox, UnrecognisedAnswersChangeNothing) {
  for (uint64_t answer : {0x00000001A55A55AAull, 0xFFFFFFFF5AA5AA55ull, 0x12345678ull}) {
    board_.mailbox_answer = answer;
    sim::Machine machine(board_);
    ResetToolState();
    uint32_t flash = 7;
    EXPECT_EQ(QueryFlashMailbox(nullptr, &flash, nullptr, nullptr), kEfiUnsupported);
    EXPECT_EQ(flash, 7u);
    EXPECT_EQ(gTool.MailboxSignature, 0u);
    // The port and the FADT stay resolved.
    EXPECT_EQ(gTool.SmiCommandPort, 0xB2);
  }
}

TEST_F(Mailbox, FailedHandshakeKeepsTheEarlierSignature) {
  sim::Machine machine(board_);
  ASSERT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
  machine.board().mailbox = sim::MailboxMode::None;
  EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiUnsupported);
  EXPECT_EQ(gTool.MailboxSignature, kSignatureQvt);
}

TEST_F(Mailbox, AcpiFailuresSendNothingAndAreRetried) {
  board_.acpi = sim::AcpiMode::Absent;
  {
    sim::Machine machine(board_);
    EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiNotFound);
    EXPECT_EQ(machine.report().smi.query, 0u);
    EXPECT_EQ(gTool.SmiCommandPort, 0);
    EXPECT_EQ(gTool.FadtPointer, nullptr);
    EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
  }
  board_.acpi = sim::AcpiMode::NoFacp;
  {
    ResetToolState();
    sim::Machine machine(board_);
    EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiNotFound);
    const uint64_t firstWalk = machine.report().get_acpi_table_calls;
    // Nothing was cached, so the next query walks the tables again.
    EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiNotFound);
    EXPECT_EQ(machine.report().get_acpi_table_calls, 2 * firstWalk);
    EXPECT_EQ(machine.report().smi.query, 0u);
    EXPECT_EQ(gTool.FadtPointer, nullptr);
    EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
  }
}

TEST_F(Mailbox, FadtWithoutSmiPortWritesToNoPort) {
  board_.smi_port = 0;
  sim::Machine machine(board_);
  EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiUnsupported);
  EXPECT_EQ(machine.report().smi.query, 0u);
  EXPECT_EQ(machine.report().port_writes_elsewhere, 0u);
  EXPECT_NE(gTool.FadtPointer, nullptr);
  EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
}

TEST_F(Mailbox, OtherSmiPortsAreTakenFromTheFadt) {
  board_.smi_port = 0x1234;
  sim::Machine machine(board_);
  EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
  EXPECT_EQ(gTool.SmiCommandPort, 0x1234);
}

TEST_F(Mailbox, NoMemoryForTheQuerySendsNothing) {
  board_.fail_alloc = {1};
  sim::Machine machine(board_);
  EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiUnsupported);
  EXPECT_EQ(machine.report().smi.query, 0u);
  EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
  // The failure was the memory, not the tables: the next query succeeds.
  EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
  EXPECT_EQ(machine.report().smi.query, 1u);
}

TEST_F(Mailbox, NoRequestBeforeAHandshake) {
  sim::Machine machine(board_);
  std::vector<uint8_t> destination(0x10000, 0xFF);
  SendMailboxCommand(MailboxCommand::BeginRead);
  SendReadBlock(0xFF000000, 0x10000, destination.data());
  SendMailboxCommand(MailboxCommand::EndRead);
  const sim::Report& report = machine.report();
  EXPECT_EQ(report.smi.begin_read + report.smi.read_block + report.smi.end_read, 0u);
  EXPECT_EQ(report.pool_allocations, 3u);  // each buffer taken and given back
  EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
  EXPECT_FALSE(PrepareMailboxRequest(nullptr));
}

TEST_F(Mailbox, ReadRequestsCarryTheAgreedSignature) {
  for (sim::MailboxMode mode : {sim::MailboxMode::Qvt, sim::MailboxMode::Qv1}) {
    board_.mailbox = mode;
    sim::Machine machine(board_);
    support::StartFirmware();
    auto* destination = static_cast<uint8_t*>(machine.impl().pool.Allocate(0x10000));
    SendReadBlock(0xFF000000, 0x10000, destination);
    EXPECT_EQ(machine.report().smi.read_block, 1u);
    // The board answers only requests signed with the agreed signature.
    EXPECT_EQ(std::memcmp(destination, board_.main.image.data(), 0x10000), 0);
    machine.impl().pool.Release(destination);
  }
}

TEST_F(Mailbox, NoCommandByteSendsNoRequest) {
  sim::Machine machine(board_);
  support::StartFirmware();
  ASSERT_TRUE(SendMailboxCommand(MailboxCommand::BeginRead));
  EXPECT_EQ(machine.report().smi.begin_read, 1u);
  gTool.SmiCommandByte = 0;
  EXPECT_FALSE(SendMailboxCommand(MailboxCommand::BeginRead));
  EXPECT_FALSE(SendMailboxCommand(MailboxCommand::EndRead));
  EXPECT_EQ(machine.report().smi.begin_read, 1u);
  EXPECT_EQ(machine.report().smi.end_read, 0u);
  EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
}

// The FADT's SMI_CMD field is bytes 48-51; its low half, the port, needs a
// table of at least 50 bytes.
TEST_F(Mailbox, FadtLengthDecidesWhetherThePortIsRead) {
  for (uint32_t length : {49u, 50u, 51u}) {
    ResetToolState();
    sim::Machine machine(board_);
    std::vector<uint8_t>& fadt = machine.impl().acpi_tables[1];
    ASSERT_EQ(std::memcmp(fadt.data(), "FACP", 4), 0);
    fadt.resize(length);
    std::memcpy(fadt.data() + 4, &length, 4);
    SCOPED_TRACE("FADT of " + std::to_string(length) + " bytes");
    if (length < 50) {
      EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiUnsupported);
      EXPECT_EQ(gTool.SmiCommandPort, 0);
      EXPECT_EQ(machine.report().smi.query, 0u);
      EXPECT_EQ(machine.report().port_writes_elsewhere, 0u);
    } else {
      EXPECT_EQ(QueryFlashMailbox(nullptr, nullptr, nullptr, nullptr), kEfiSuccess);
      EXPECT_EQ(gTool.SmiCommandPort, 0xB2);
      EXPECT_EQ(machine.report().smi.query, 1u);
    }
    EXPECT_EQ(machine.impl().pool.live_blocks(), 0u);
  }
}

}  // namespace
