#include "vcard_fixture.h"

#include <string.h>

#include "platform/driver_io.h"
#include "platform/virtual/virtual_platform.h"
#include "vcard/host/vcard_host.h"

VcMachine* VcTestMachine()
{
    static VcMachine* machine = VcNewMachine();
    return machine;
}

void ResetHwGlobals()
{
    AccessMode = 0;
    DeviceHandle = 0;
    memset(CardTable, 0, sizeof CardTable);
    CardCount = 0;
    CurrentCard = 0;
}

bool LoadMachine(const char* profileText, const char* folder)
{
    VcMachine* machine = VcTestMachine();
    char error[512];
    if (!VcLoadProfileText(profileText, "test profile", folder, machine, error, sizeof error)) {
        ADD_FAILURE() << error;
        return false;
    }
    VirtualPlatformAttach(machine);
    VirtualRealTime = false;
    return true;
}

bool OpenVirtualHardware(uint16_t accessMode)
{
    AccessMode = accessMode;
    if (accessMode == AccessDriver && !DeviceOpen("\\\\.\\Norvik", &DeviceHandle))
        return false;
    return DiscoverCards();
}

void StartLog()
{
    VcMachine* machine = VcTestMachine();
    machine->logCount = 0;
    machine->logEnabled = true;
}

uint32_t LogSize()
{
    return VcTestMachine()->logCount;
}

const VcLogEntry& LogAt(uint32_t index)
{
    return VcTestMachine()->log[index % VcLogCapacity];
}

void VcardTest::SetUp()
{
    ResetHwGlobals();
    machine = VcTestMachine();
    VcReset(machine);
    VirtualPlatformAttach(machine);
    VirtualRealTime = false;
}

void VcardTest::TearDown()
{
    VirtualPlatformAttach(nullptr);
    ResetHwGlobals();
}
