#include "app/dual_bios.h"

#include "app/main_window.h"
#include "core/state.h"
#include "hw/hw.h"
#include "platform/timing.h"
#include "platform/window.h"

enum : uint32_t {
    ProbeByteMask = 0xFF00,
    RomSelectMask = 0xF000,
    RomStateMask = 0xC000,
    ProbeBit14 = 0x4000,
    ProbeBit10 = 0x0400,
};

// Replaces bits 8..15 of the register with `value` and lets the board settle.
static uint32_t WriteProbeByte(uint32_t value, uint32_t waitMs)
{
    uint32_t reg = ReadReg32(DualBiosRegister);
    WriteReg32(DualBiosRegister, (reg & ~ProbeByteMask) | (value << 8));
    PlatformSleep(waitMs);
    return ReadReg32(DualBiosRegister);
}

bool DualBiosProbe()
{
    uint32_t reg = WriteProbeByte(0x22, 100);
    if ((reg & ProbeBit14) == 0 || (reg & ProbeBit10) == 0)
        return false;
    reg = WriteProbeByte(0x12, 10);
    if ((reg & ProbeBit10) == 0)
        return false;
    reg = WriteProbeByte(0x02, 10);
    return (reg & ProbeBit10) == 0;
}

bool DetectDualBios()
{
    // The probe drives the ROM-select bits. A board that fails it is treated
    // as an ordinary card, so it gets the register back as it was: left at
    // 0x22, a two-BIOS board booted from ROM 1 would have ROM 2 in the
    // window, and an update would write the BIOS it did not boot from.
    uint32_t original = ReadReg32(DualBiosRegister);
    for (int i = 0; i < 10; ++i) {
        if (!DualBiosProbe()) {
            WriteReg32(DualBiosRegister, original);
            return false;
        }
    }
    return true;
}

bool SelectRom1()
{
    uint32_t reg = ReadReg32(DualBiosRegister);
    WriteReg32(DualBiosRegister, reg & ~RomSelectMask);
    PlatformSleep(10);
    return (ReadReg32(DualBiosRegister) & RomStateMask) == 0;
}

bool SelectRom2()
{
    uint32_t reg = ReadReg32(DualBiosRegister);
    WriteReg32(DualBiosRegister, reg | RomSelectMask);
    PlatformSleep(10);
    return (ReadReg32(DualBiosRegister) & RomStateMask) != 0;
}

void DualBiosDialogCommand(DialogHandle dialog, int commandId)
{
    if (commandId == DialogIdOk) {
        DlgEnd(dialog, DialogIdOk);
        WinSendRestoreBios(MainWindow);
    } else if (commandId == DialogIdCancel) {
        DlgEnd(dialog, DialogIdCancel);
        if (AutoMode)
            DestroyMainWindow();
    }
}

void DualBiosDialog(WindowHandle owner)
{
    DlgRunModal(owner, DialogDualBios, 0, DualBiosDialogCommand);
}
