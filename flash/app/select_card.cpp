#include "app/select_card.h"

#include <string.h>

#include "app/dual_bios.h"
#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "engine/flash.h"
#include "engine/identify.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "platform/window.h"

struct DeviceRange {
    uint16_t From;
    uint16_t To;
};

static const DeviceRange SupportedGenerations[] = {
    {0x0170, 0x018F},
    {0x0250, 0x025F},
    {0x0280, 0x028F},
    {0x0300, 0x032B},
};

enum : uint16_t { DualBiosDeviceA = 0x0253, DualBiosDeviceB = 0x0281 };
enum : uint32_t { RestoreMenuPosition = 1 };

// Appends `text` to `line`, keeping it within `size` with its terminator.
static void AppendLine(char* line, uint32_t size, const char* text, size_t maxCount = (size_t)-1)
{
    size_t used = strlen(line);
    size_t count = strlen(text);
    if (count > maxCount)
        count = maxCount;
    if (used + count >= size)
        count = size - 1 - used;
    memcpy(line + used, text, count);
    line[used + count] = 0;
}

static void FormatHex(uint32_t value, char* out)
{
    static const char Digits[] = "0123456789ABCDEF";
    char reversed[9];
    int count = 0;
    do {
        reversed[count++] = Digits[value & 0xF];
        value >>= 4;
    } while (value);
    for (int i = 0; i < count; ++i)
        out[i] = reversed[count - 1 - i];
    out[count] = 0;
}

void CardListLine(int index, char* line, uint32_t size)
{
    const CardRecord& card = CardTable[index];
    char device[9], vendor[9], bus[9];
    FormatHex(card.DeviceId, device);
    FormatHex(card.VendorId, vendor);
    FormatHex(card.BusNumber, bus);
    line[0] = 0;
    AppendLine(line, size, " NV");
    AppendLine(line, size, device, 2);
    AppendLine(line, size, " (");
    AppendLine(line, size, device);
    AppendLine(line, size, ")");
    AppendLine(line, size, " ,Vender ID=");
    AppendLine(line, size, vendor);
    AppendLine(line, size, " ,Bus=");
    AppendLine(line, size, bus);
}

void CardDialogInit(DialogHandle dialog)
{
    SelectedCard = 0;
    int count = CardCount < int(CardTableSize) ? int(CardCount) : int(CardTableSize);
    for (int i = 0; i < count; ++i) {
        char line[CardListLineSize];
        CardListLine(i, line, sizeof line);
        DlgListAddString(dialog, CardListId, line);
    }
}

void CardDialogCommand(DialogHandle dialog, int commandId)
{
    if (commandId == DialogIdOk) {
        int selection = DlgListGetSelection(dialog, CardListId);
        if (selection < 0) {
            // Owned by the dialog, so the dialog waits for it: one box at a
            // time, and none left behind once a card is chosen.
            UiMessageBox(dialog, "Please select a card !!", "Message", UiMbOk);
            return;
        }
        SelectedCard = selection;
        DlgEnd(dialog, DialogIdOk);
    } else if (commandId == CardDialogIdCancel) {
        // The dialog goes with its owner and the program ends.
        DestroyMainWindow();
    }
}

void SelectCardDialog(WindowHandle owner)
{
    DlgRunModal(owner, DialogCardSelection, CardDialogInit, CardDialogCommand);
}

bool IsSupportedGeneration(uint16_t deviceId)
{
    for (const DeviceRange& range : SupportedGenerations) {
        if (deviceId >= range.From && deviceId <= range.To)
            return true;
    }
    return false;
}

static const char* OrEmpty(const char* text)
{
    return text ? text : "";
}

bool InitSelectedCard(WindowHandle window)
{
    ClearAllStatus();
    LoadCardIds();
    if (!IsSupportedGeneration(CardDeviceId)) {
        if (!AutoMode)
            UiMessageBox(window, "This program only support Geforce4 and later ", 0, UiMbOk);
        return false;
    }
    // A miss leaves the first row, which then names the chip.
    const ChipEntry* chip = 0;
    FindChipEntry(CardVendorId, CardDeviceId, &chip);
    if (!chip)
        chip = &ChipTable[0];
    FlashInterface = DetectFlashInterface(chip);
    IdentifyFlashPart();
    if (!FindFlashPart()) {
        DestroyMainWindow();
        return false;
    }
    if ((CardDeviceId == DualBiosDeviceA || CardDeviceId == DualBiosDeviceB) && DetectDualBios()) {
        WinEnableFileMenuItem(window, RestoreMenuPosition);
        DualBios = true;
    }

    SetStatusText("This Chip  is ");
    AppendStatusText(OrEmpty(chip->Name));
    AppendStatusText("    Device : ");
    AppendStatusHex(CardDeviceId, true);
    AppendStatusText("    Vender : ");
    AppendStatusHex(CardVendorId, true);
    AddStatusText(StatusText, 0);

    SetStatusText("EEPROM man. ID,devcode (");
    AppendStatusHex(FlashMakerId, true);
    AppendStatusText(",");
    AppendStatusHex(FlashDeviceId, true);
    AppendStatusText(")  ");
    AppendStatusText(OrEmpty(CurrentPart->maker));
    AppendStatusText(" ");
    AppendStatusText(OrEmpty(CurrentPart->partName));
    AppendStatusText(" ");
    AppendStatusText(OrEmpty(CurrentPart->voltage));
    AppendStatusText(" ");
    AppendStatusText(OrEmpty(CurrentPart->organisation));
    AddStatusText(StatusText, 0);

    // The version of the ROM now in the card; an unreadable ROM leaves the
    // line empty.
    StatusText[0] = 0;
    if (ReadRomImage(SpareImageBuffer))
        BiosVersionText(SpareImageBuffer);
    AddStatusText(StatusText, 0);

    AddStatusText(" ", 0);
    DrawStatusLines(WindowDC);
    return true;
}
