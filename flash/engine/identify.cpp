#include "engine/identify.h"
#include "core/state.h"
#include "engine/parallel.h"
#include "engine/parts.h"
#include "engine/serial.h"
#include "hw/hw.h"
#include "platform/ui.h"

bool IdentifyFlashPart()
{
    OpenRomAccess();
    if (ReadReg8(RomAccessSwitch) != 0) {
        CloseRomAccess();
        return false;
    }
    uint8_t maker = 0;
    uint8_t device = 0;
    if (FlashInterface != InterfaceParallel)
        ReadSerialId(FlashInterface, &maker, &device);
    else
        JedecReadId(&maker, &device);
    FlashMakerId = maker;
    FlashDeviceId = device;
    CloseRomAccess();
    return true;
}

bool FindFlashPart()
{
    CurrentPart = &FlashPartTable[0];
    for (int i = 0; i < FlashPartCount && FlashPartTable[i].kind != PartTableEnd; ++i) {
        const FlashPartEntry& entry = FlashPartTable[i];
        if (entry.kind == PartListed && entry.makerId == FlashMakerId && entry.deviceId == FlashDeviceId) {
            CurrentPart = &entry;
            return true;
        }
    }
    if (!AutoMode)
        UiMessageBox(MainWindow, "Supported EEPROM not found.\n", "Error", UiMbOk);
    return false;
}
