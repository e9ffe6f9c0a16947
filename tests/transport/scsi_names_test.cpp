#include <gtest/gtest.h>

#include "drive/drive_commands.h"
#include "transport/scsi_names.h"

namespace orvel {
namespace {

TEST(ScsiNames, EveryCommandTheDrivesGetIsNamed) {
  struct Case {
    std::uint8_t opcode;
    const char* name;
  };
  const Case cases[] = {
      {kOpTestUnitReady, "TEST UNIT READY"},
      {kOpRequestSense, "REQUEST SENSE"},
      {kOpInquiry, "INQUIRY"},
      {kOpFinishTransfer, "FINISH TRANSFER"},
      {kOpStartRewrite, "START REWRITE"},
      {kOpSendChunk10, "SEND IMAGE CHUNK (10-byte form)"},
      {kOpSendChunk12, "SEND IMAGE CHUNK (12-byte form)"},
      {kOpReadFirmware, "READ FIRMWARE BLOCK"},
      {kOpReadFirmwareAlt, "READ FIRMWARE BLOCK (alternate form)"},
      {kOpEnterUpdateMode, "ENTER UPDATE MODE"},
      // Not sent by this program: the bare opcode in hex.
      {0x5A, "opcode 5a"},
      {0xE5, "opcode e5"},
  };
  for (const Case& c : cases) EXPECT_EQ(OpcodeName(c.opcode), c.name) << int{c.opcode};
}

TEST(ScsiNames, SenseKeysInWordsAndReservedOnesInHex) {
  struct Case {
    std::uint8_t key;
    const char* name;
  };
  const Case cases[] = {
      {0x0, "NO SENSE"},        {0x2, "NOT READY"},       {0x3, "MEDIUM ERROR"},
      {0x4, "HARDWARE ERROR"},  {0x5, "ILLEGAL REQUEST"}, {0x6, "UNIT ATTENTION"},
      {0xB, "ABORTED COMMAND"}, {0xE, "MISCOMPARE"},      {0xC, "sense key c"},
      {0xF, "sense key f"},     {0x12, "sense key 12"},
  };
  for (const Case& c : cases) EXPECT_EQ(SenseKeyName(c.key), c.name) << int{c.key};
}

TEST(ScsiNames, SensePairsInWordsAndUnknownOnesInHex) {
  struct Case {
    std::uint8_t asc, ascq;
    const char* name;
  };
  const Case cases[] = {
      {0x3A, 0x00, "MEDIUM NOT PRESENT"},
      {0x3A, 0x02, "MEDIUM NOT PRESENT - TRAY OPEN"},
      {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
      {0x24, 0x00, "INVALID FIELD IN CDB"},
      {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
      {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
      {0x04, 0x07, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
      {0x0C, 0x00, "WRITE ERROR"},
      {0x44, 0x00, "INTERNAL TARGET FAILURE"},
      // The drives' report of the rewrite, phase by phase.
      {0xF7, 0x00, "REWRITE: CONFIRMING SUM CODE OF THE RECEIVED IMAGE"},
      {0xF7, 0x01, "REWRITE: ERASING FLASH ROM"},
      {0xF7, 0x02, "REWRITE: WRITING DATA INTO FLASH ROM"},
      {0xF7, 0x03, "REWRITE: CONFIRMING SUM CODE AFTER WRITING"},
      // An ASC the table knows with an ASCQ it does not: the family's name and the ASCQ.
      {0xF7, 0x0A, "REWRITE IN PROGRESS (ascq 0a)"},
      {0x04, 0x1C, "LOGICAL UNIT NOT READY (ascq 1c)"},
      // Neither known: both in hex.
      {0x20, 0x01, "asc/ascq 20/01"},
      {0x51, 0x00, "asc/ascq 51/00"},
  };
  for (const Case& c : cases) EXPECT_EQ(AdditionalSenseName(c.asc, c.ascq), c.name) << int{c.asc} << '/' << int{c.ascq};
}

}  // namespace
}  // namespace orvel
