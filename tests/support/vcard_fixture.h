// Shared test fixtures (#include "tests/support/vcard_fixture.h") for code that runs on the virtual card.
//
//   VcTestMachine()            one machine for the whole test program (a few
//                              MB, allocated on first use, never freed)
//   ResetHwGlobals()           the hardware layer's globals as at program
//                              start: AccessMode 0, no device, empty card
//                              table, CurrentCard 0
//   LoadMachine(text)          resets the machine, loads the profile text
//                              (part files relative to `folder`), attaches
//                              it to the virtual platform with real time off;
//                              a profile error fails the test and returns false
//   OpenVirtualHardware(mode)  what start-up does: sets AccessMode, opens
//                              "\\.\Norvik" in driver mode, runs
//                              DiscoverCards; true when cards were found
//   StartLog()                 clears and enables the machine's request log
//   LogSize() / LogAt(i)       entries written since StartLog (i < VcLogCapacity)
//
// VcardTest is a GoogleTest fixture doing ResetHwGlobals and a reset of the
// machine (attached, empty) before each test, and detaching afterwards:
//
//   TEST_F(VcardTest, Something) {
//       ASSERT_TRUE(LoadMachine("card 1:0 0x10DE:0x0281 bar0=0xE0000000\n"
//                               "part 29EE010\n"));
//       ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
//       ...
//   }
//
// Profile syntax: vcard/profiles/README.md.
#pragma once
#include <stdint.h>

#include <gtest/gtest.h>

#include "hw/hw.h"
#include "vcard/model/vcard.h"

VcMachine* VcTestMachine();
void ResetHwGlobals();
bool LoadMachine(const char* profileText, const char* folder = nullptr);
bool OpenVirtualHardware(uint16_t accessMode);
void StartLog();
uint32_t LogSize();
const VcLogEntry& LogAt(uint32_t index);

class VcardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    VcMachine* machine = nullptr;
};
