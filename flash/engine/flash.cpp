#include "engine/flash.h"
#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "engine/parallel.h"
#include "engine/parts.h"
#include "engine/serial.h"
#include "hw/hw.h"
#include "platform/timing.h"

namespace {

const int MaxBlankAttempts = 2;
const int32_t EraseBarBlocks = 5;
const int32_t EraseBarEraseCount = 7;
const int32_t FinalEraseExtraBlocks = 10;
// Serial units that failed every try before the write stops going on: a few
// bad cells are passed over, but a part that never finishes would cost three
// times a thousand status polls per unit, hours for a whole image. The
// verification then names the first offset that differs.
const uint32_t MaxFailedSerialUnits = 16;

// Everything below needs a part entry; before identification there is none.
const FlashPartEntry* PartOrUnknown()
{
    return CurrentPart != nullptr ? CurrentPart : &FlashPartTable[0];
}

bool SerialInterface()
{
    return FlashInterface == InterfaceSpi || FlashInterface == InterfaceSerial2;
}

bool SerialProgram(uint32_t offset, const uint8_t* source, uint32_t count)
{
    if (FlashInterface == InterfaceSpi)
        return SpiProgram(offset, source, offset, count);
    return Serial2Program(offset, source, offset, count);
}

// Redraws the bar after the first unit and then once per `period` units.
void AfterUnit(DcHandle dc, uint32_t unitIndex, uint32_t period, uint32_t bytesDone)
{
    ProgressDone = static_cast<int32_t>(bytesDone / ProgressBlockBytes);
    if (unitIndex % period == 0)
        DrawProgress(dc, ProgressDone, ProgressTotal);
    UiPaintPending();
}

// The bar leaves the screen and the stored state together, so that a repaint
// never draws a bar that is gone.
void HideProgress(DcHandle dc, int32_t count)
{
    EraseProgress(dc, ProgressOriginX, ProgressOriginY, ProgressBarHeight, ProgressEraseStep, count);
    ProgressVisible = false;
}

// The erase/blank loop of a write: two blank checks at most, and a bounded
// number of erases that the ROM access switch spoiled.
bool EraseUntilBlank(uint32_t length)
{
    int blankAttempts = 0;
    int switchFailures = 0;
    for (;;) {
        if (!EraseFlash()) {
            if (++switchFailures >= MaxEraseSwitchFailures)
                return false;
            continue;
        }
        // A busy serial part reads 0xFF through the ROM window: the blank
        // check would pass an erase that has not finished.
        if (SerialWaitErased(FlashInterface) && CheckBlank(length))
            return true;
        if (++blankAttempts >= MaxBlankAttempts)
            return false;
    }
}

bool ProgramImage(DcHandle dc, const uint8_t* image, uint32_t length)
{
    const FlashPartEntry* part = PartOrUnknown();
    if (FlashInterface == InterfaceReserved)
        return true;
    uint32_t failedUnits = 0;
    if (part->pageSize == 1) {
        for (uint32_t o = 0; o < length; ++o) {
            if (SerialInterface()) {
                if (!SerialProgram(o, image, 1) && ++failedUnits >= MaxFailedSerialUnits)
                    break;
            } else if (!ParallelProgramByte(o, image[o])) {
                SetStatusText("Write to ROM error at ");
                AppendStatusDecimal(o);
                ShowStatusText();
                return false;
            }
            AfterUnit(dc, o, 1024, o + 1);
        }
        return true;
    }
    if (part->pageSize != 128 && part->pageSize != 256)
        return true;
    const uint32_t size = part->pageSize;
    // 4096 bytes between redraws for 128-byte pages, 2048 for 256-byte pages.
    const uint32_t period = size == 128 ? 32 : 8;
    if (SerialInterface()) {
        OpenRomAccess();
        uint32_t unit = 0;
        for (uint32_t o = 0; o < length; o += size, ++unit) {
            if (!SerialProgram(o, image, size) && ++failedUnits >= MaxFailedSerialUnits)
                break;
            AfterUnit(dc, unit, period, o + size);
        }
        CloseRomAccess();
        return true;
    }
    uint32_t unit = 0;
    for (uint32_t o = 0; o < length; o += size, ++unit) {
        if (!ParallelProgramPage(part, size, image + o, o)) {
            PutUpText("Write to ROM ERRROR");
            return false;
        }
        AfterUnit(dc, unit, period, o + size);
    }
    return true;
}

} // namespace

bool FlashImage()
{
    DcHandle dc = UiGetDC(MainWindow);
    FlashBusy = true;
    // An image longer than the buffer would have every later pass run past it.
    if (ImageLength == 0 || !ImageLoaded || ImageLength > ImageBufferSize) {
        FlashBusy = false;
        UiReleaseDC(MainWindow, dc);
        return false;
    }
    const char* version = BiosVersionText(ImageBuffer);
    AddStatusText("New ", 0);
    AddStatusText(version, 1);

    static const char question[] = "During BIOS flashed,please wait until the progress complete.";
    char text[StatusLineSize + sizeof question + 2];
    uint32_t n = 0;
    for (const char* s = version; *s != 0 && n < StatusLineSize - 1; ++s)
        text[n++] = *s;
    text[n++] = '\n';
    for (const char* s = question; *s != 0; ++s)
        text[n++] = *s;
    text[n] = 0;
    // Only a deliberate answer starts the erase, not a key typed ahead.
    UiDiscardInput();
    if (UiMessageBox(MainWindow, text, "Confirm", UiMbOkCancel) != UiIdOk) {
        ClearCommandStatus();
        DrawStatusLines(WindowDC);
        FlashBusy = false;
        UiReleaseDC(MainWindow, dc);
        return false;
    }

    UiShowWaitCursor(true);
    bool ok = WriteImage(MainWindow, ImageBuffer, ImageLength) && VerifyRom(ImageBuffer);
    UiShowWaitCursor(false);
    // Keys and clicks given while the part was written must not answer the
    // box that tells the outcome; and the window stays busy until that box
    // is answered, so a close request queued meanwhile cannot take it away.
    UiDiscardInput();

    const int32_t eraseBlocks = static_cast<int32_t>(ImageLength / ProgressBlockBytes) + FinalEraseExtraBlocks;
    if (ok) {
        UiMessageBox(MainWindow, "Flash completely", "Message", UiMbOk);
        HideProgress(dc, eraseBlocks);
        SetStatusText("Flash OK!! ");
        AddStatusText(StatusText, 0);
        FlashBusy = false;
        DrawStatusLines(WindowDC);
        UiReleaseDC(MainWindow, dc);
        return true;
    }
    HideProgress(dc, eraseBlocks);
    UiMessageBox(MainWindow, "Flash faile!!", "ERROR", UiMbOk);
    FlashBusy = false;
    UiReleaseDC(MainWindow, dc);
    return false;
}

bool WriteImage(WindowHandle window, const uint8_t* image, uint32_t length)
{
    ProgressDone = 0;
    ProgressTotal = 0;
    DcHandle dc = UiGetDC(window);
    const FlashPartEntry* part = PartOrUnknown();
    bool ok = length <= ImageBufferSize && CheckImageIds() && CheckImageFit(part->pageSize, part->sectorKB, ImageLength);
    if (ok) {
        PutUpText("Erase BIOS");
        FlashPhase = FlashPhaseErasing;
        ok = EraseUntilBlank(ImageLength);
    }
    if (ok) {
        FlashPhase = FlashPhaseWriting;
        PlatformSleep(100);
        SetStatusText("Writing Flash with file ");
        if (ImageFromFile)
            AppendStatusText(FilePath);
        ShowStatusText();
        // The bar stays up after the write, through the verification, until
        // the outcome is told.
        ProgressDone = 0;
        ProgressTotal = static_cast<int32_t>(length / ProgressBlockBytes);
        ProgressVisible = true;
        OpenRomAccess();
        SpinDelay(1000);
        ok = ProgramImage(dc, image, length);
        CloseRomAccess();
    }
    UiReleaseDC(window, dc);
    FlashPhase = FlashPhaseNone;
    return ok;
}

bool EraseFlash()
{
    DcHandle dc = UiGetDC(MainWindow);
    OpenRomAccess();
    if (ReadReg8(RomAccessSwitch) != 0) {
        CloseRomAccess();
        UiReleaseDC(MainWindow, dc);
        return false;
    }
    FlashPartTouched = 1;
    switch (FlashInterface) {
    case InterfaceParallel:
        ParallelChipErase();
        break;
    case InterfaceSpi:
        SpiChipErase(FlashMakerId);
        break;
    case InterfaceSerial2:
        Serial2ChipErase();
        break;
    default:
        break;
    }
    for (int i = 0; i < 5; ++i)
        SpinDelay(10);
    CloseRomAccess();
    if (ReadReg8(RomAccessSwitch) != 1) {
        PutUpText("Erase faile!!");
        UiReleaseDC(MainWindow, dc);
        return false;
    }
    // The parallel chip erase is not polled: this fixed wait is all it gets.
    // Its bar is kept as the progress state, which a repaint draws.
    ProgressDone = 0;
    ProgressTotal = EraseBarBlocks;
    ProgressVisible = true;
    for (int32_t i = 1; i <= EraseBarBlocks; ++i) {
        PlatformSleep(1000);
        ProgressDone = i;
        DrawProgress(dc, i, EraseBarBlocks);
        UiPaintPending();
    }
    HideProgress(dc, EraseBarEraseCount);
    UiReleaseDC(MainWindow, dc);
    return true;
}

bool CheckBlank(uint32_t length)
{
    OpenRomAccess();
    PlatformSleep(1);
    for (uint32_t i = 0; i < length; ++i) {
        if (ReadRom8(i) != 0xFF) {
            CloseRomAccess();
            return false;
        }
        UiPaintPending();
    }
    CloseRomAccess();
    return true;
}

bool VerifyRom(const uint8_t* buffer)
{
    FlashPhase = FlashPhaseVerifying;
    OpenRomAccess();
    uint32_t romLength = 0;
    bool same = true;
    // A ROM without a valid header, or longer than any buffer, cannot match.
    if (!RomImageLength(&romLength) || romLength > ImageBufferSize || ImageLength != romLength) {
        PutUpText("ROM file size isn't the same!!");
        same = false;
    }
    if (same)
        DrawStepProgress(0, romLength);
    for (uint32_t i = 0; same && i < romLength; ++i) {
        if (buffer[i] != static_cast<uint8_t>(ReadRom8(i))) {
            SetStatusText("Data isn't the same at ");
            AppendStatusDecimal(i);
            ShowStatusText();
            same = false;
        } else {
            if ((i + 1) % ProgressBlockBytes == 0 || i + 1 == romLength)
                DrawStepProgress(i + 1, romLength);
            UiPaintPending();
        }
    }
    CloseRomAccess();
    FlashPhase = FlashPhaseNone;
    return same;
}

bool ReadRomImage(uint8_t* buffer)
{
    FlashPhase = FlashPhaseReading;
    OpenRomAccess();
    uint32_t romLength = 0;
    if (!RomImageLength(&romLength) || romLength > ImageBufferSize) {
        CloseRomAccess();
        FlashPhase = FlashPhaseNone;
        return false;
    }
    for (uint32_t i = 0; i < romLength; ++i) {
        buffer[i] = static_cast<uint8_t>(ReadRom8(i));
        UiPaintPending();
    }
    CloseRomAccess();
    FlashPhase = FlashPhaseNone;
    ImageLength = romLength;
    ImageLoaded = true;
    ImageFromFile = false;
    return true;
}

void ReadRomBytes(uint8_t* buffer, uint32_t length)
{
    FlashPhase = FlashPhaseReading;
    OpenRomAccess();
    for (uint32_t i = 0; i < length; ++i)
        buffer[i] = static_cast<uint8_t>(ReadRom8(i));
    CloseRomAccess();
    FlashPhase = FlashPhaseNone;
}
