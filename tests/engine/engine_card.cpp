#include "engine_card.h"
#include <string.h>
#include "core/state.h"
#include "core/status.h"
#include "engine/identify.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "platform/recording/recording_ui.h"
#include "platform/virtual/virtual_platform.h"

VcMachine EngineMachine;

namespace {
int CardIndex = -1;
}

bool AttachEngineCard(const char* partName, uint8_t deviceId, uint32_t strap)
{
    const VcPartType* type = VcFindPartType(partName, deviceId);
    if (type == nullptr)
        return false;
    VcReset(&EngineMachine);
    int device = VcAddDevice(&EngineMachine, 1, 0, TestVendorId, TestDeviceId, 0, 0, TestWindowBase);
    CardIndex = VcAddCard(&EngineMachine, device, strap, false, false);
    if (CardIndex < 0 || !VcFitPart(&EngineMachine, CardIndex, 0, type))
        return false;
    VirtualPlatformAttach(&EngineMachine);
    VirtualRealTime = false;

    AccessMode = AccessDriver;
    if (!DeviceOpen("\\\\.\\Norvik", &DeviceHandle))
        return false;
    CardTable[0] = CardRecord{TestVendorId, TestDeviceId, 0, 0, 1, 0, TestWindowBase};
    CardCount = 1;
    CurrentCard = 0;

    RecordingReset();
    memset(StatusLines, 0, sizeof StatusLines);
    ClearAllStatus();
    LastStatusLine = 4;
    ProgressVisible = false;
    ProgressDone = 0;
    ProgressTotal = 0;
    AutoMode = false;
    NtNot2000 = false;
    FlashBusy = false;
    MainWindow = reinterpret_cast<WindowHandle>(0x100);
    WindowDC = reinterpret_cast<DcHandle>(0x200);
    strcpy(FilePath, "C:\\BIOS\\NEW.ROM");
    FlashInterface = InterfaceParallel;
    FlashMakerId = 0;
    FlashDeviceId = 0;
    CurrentPart = nullptr;
    ImageLength = 0;
    ImageLoaded = false;
    LoadCardIds();
    return true;
}

VcCard* EngineCard()
{
    return &EngineMachine.cards[CardIndex];
}

VcFlashPart* EnginePart()
{
    return VcSelectedPart(EngineCard());
}

bool IdentifyEngineCard()
{
    const ChipEntry* chip = nullptr;
    FindChipEntry(CardVendorId, CardDeviceId, &chip);
    FlashInterface = DetectFlashInterface(chip);
    IdentifyFlashPart();
    return FindFlashPart();
}

void MakeTestImage(uint32_t length, uint16_t vendorId, uint16_t deviceId)
{
    uint32_t x = 0x12345678;
    for (uint32_t i = 0; i < ImageBufferSize; ++i) {
        x = x * 1103515245u + 12345u;
        ImageBuffer[i] = static_cast<uint8_t>(x >> 16);
    }
    ImageBuffer[0] = 0x55;
    ImageBuffer[1] = 0xAA;
    ImageBuffer[2] = static_cast<uint8_t>(length / 512);
    ImageBuffer[0x34] = 0;
    ImageBuffer[0x18] = 0xC0;
    ImageBuffer[0x19] = 0x01;
    ImageBuffer[0x1C4] = static_cast<uint8_t>(vendorId);
    ImageBuffer[0x1C5] = static_cast<uint8_t>(vendorId >> 8);
    ImageBuffer[0x1C6] = static_cast<uint8_t>(deviceId);
    ImageBuffer[0x1C7] = static_cast<uint8_t>(deviceId >> 8);
    const uint8_t block[] = {0xFF, 0x7F, 0x4E, 0x56, 0x00, 0x04, 0, 0, 0, 0, 0x00, 0x15, 0x25, 0x04};
    memcpy(ImageBuffer + 0x40, block, sizeof block);
    ImageLength = length;
    ImageLoaded = true;
    ImageFromFile = true;  // as if read from FilePath
}

int32_t FirstPartDifference()
{
    const VcFlashPart* part = EnginePart();
    for (uint32_t i = 0; i < ImageLength; ++i) {
        if (part->data[i] != ImageBuffer[i])
            return static_cast<int32_t>(i);
    }
    return -1;
}
