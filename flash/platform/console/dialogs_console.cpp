// Dialogs on a terminal. The file dialogs take the name given on the command
// line; the modal dialogs print their texts and take their button from the
// terminal (or from --card / --yes), then hand it to the portable handlers
// exactly as the Windows dialog procedure would.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/state.h"
#include "hw/hw.h"
#include "platform/console/console.h"
#include "platform/dialogs.h"

namespace {

enum { ListCapacity = CardTableSize, ListLineSize = 96 };

struct ConsoleDialog {
    int resourceId;
    bool ended;
    int result;
    int lineCount;
    char lines[ListCapacity][ListLineSize];
    int selection;
};

// The static texts of the "Dual BIOS information" dialog, top to bottom.
const char* const DualBiosTexts[] = {
    "You are booted by the 2nd BIOS.",
    "If you don't want to restore the 2nd BIOS data to the ",
    "1st one , please click \"Cancel\" , or please click \"OK\" ",
    " to process BIOS restoration",
};

void CopyBounded(char* dst, size_t size, const char* src)
{
    size_t n = 0;
    while (src && n + 1 < size && src[n]) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
}

void PrintIndented(const char* text)
{
    char line[ListLineSize + 8] = "  ";
    CopyBounded(line + 2, sizeof line - 2, text);
    ConsolePrintLine(line);
}

// Whole decimal number from `text`, or -1.
int ParseIndex(const char* text)
{
    while (*text == ' ')
        ++text;
    if (*text < '0' || *text > '9')
        return -1;
    char* end = 0;
    long value = strtol(text, &end, 10);
    while (*end == ' ')
        ++end;
    if (*end != 0 || value > 1000)
        return -1;
    return static_cast<int>(value);
}

bool IsCancelWord(const char* text)
{
    while (*text == ' ')
        ++text;
    return (text[0] == 'c' || text[0] == 'C') &&
           (text[1] == 0 || strcasecmp(text, "cancel") == 0);
}

void RunCardSelection(ConsoleDialog* dialog, DialogCommandHandler onCommand)
{
    if (ConsoleCardChoice >= 0) {
        // Chosen on the command line: no dialog is shown.
        dialog->selection = ConsoleCardChoice < dialog->lineCount ? ConsoleCardChoice : -1;
        onCommand(dialog, DialogIdOk);
        if (!dialog->ended && MainWindowAlive)
            onCommand(dialog, CardDialogIdCancel);
        return;
    }
    ConsolePrintLine("Card Selection Dialog ");
    PrintIndented("Please select a card from the list");
    for (int i = 0; i < dialog->lineCount; ++i) {
        char line[ListLineSize + 16];
        snprintf(line, sizeof line, "%d:%s", i, dialog->lines[i]);
        PrintIndented(line);
    }
    while (!dialog->ended && MainWindowAlive) {
        char prompt[48];
        snprintf(prompt, sizeof prompt, "Card (0-%d) or Cancel? ", dialog->lineCount - 1);
        fputs(prompt, ConsoleOut ? ConsoleOut : stdout);
        char answer[64];
        if (!ConsoleReadAnswer(answer, sizeof answer)) {
            ConsolePrintLine("Cancel (end of input)");
            ++ConsoleSeen.declined;
            ConsoleSeen.selectionCancelled = true;
            onCommand(dialog, CardDialogIdCancel);
            break;
        }
        if (!ConsoleAnswerEchoed())
            ConsolePrintLine(answer);
        if (IsCancelWord(answer)) {
            ++ConsoleSeen.declined;
            ConsoleSeen.selectionCancelled = true;
            onCommand(dialog, CardDialogIdCancel);
            break;
        }
        // OK with the line typed; anything that is not a listed card leaves
        // the list without a selection.
        int index = ParseIndex(answer);
        dialog->selection = index >= 0 && index < dialog->lineCount ? index : -1;
        onCommand(dialog, DialogIdOk);
    }
}

void RunDualBios(ConsoleDialog* dialog, DialogCommandHandler onCommand)
{
    ConsolePrintLine("Dual BIOS information");
    for (const char* text : DualBiosTexts)
        PrintIndented(text);
    while (!dialog->ended && MainWindowAlive) {
        bool ok = ConsoleAskRestoreOffer("OK", "Cancel");
        if (!ok)
            ConsoleSeen.offerDeclined = true;
        onCommand(dialog, ok ? DialogIdOk : DialogIdCancel);
    }
}

bool NameTooLong;

int RunFileDialog(char* path, char* title, bool save)
{
    const char* chosen = ConsoleFileChoice;
    ConsoleFileChoice = 0;
    NameTooLong = chosen && strlen(chosen) >= FileDialogPathSize;
    if (NameTooLong) {
        path[0] = 0;
        title[0] = 0;
        return 0;
    }
    if (!chosen || !chosen[0])
        return 0;
    if (save && access(chosen, F_OK) == 0) {
        char text[FileDialogPathSize + 64];
        snprintf(text, sizeof text, "Save As: %s already exists.", chosen);
        ConsolePrintLine(text);
        ConsolePrintLine("         Do you want to replace it?");
        if (!ConsoleAsk("Yes", "No"))
            return 0;
    }
    CopyBounded(path, FileDialogPathSize, chosen);
    const char* name = chosen;
    for (const char* c = chosen; *c; ++c) {
        if (*c == '/')
            name = c + 1;
    }
    CopyBounded(title, FileDialogPathSize, name);
    return 1;
}

}  // namespace

void PrepareFileDialog(WindowHandle)
{
}

int ChooseOpenFile(WindowHandle, char* path, char* title)
{
    return RunFileDialog(path, title, false);
}

int ChooseSaveFile(WindowHandle, char* path, char* title)
{
    return RunFileDialog(path, title, true);
}

bool FileNameTooLong()
{
    return NameTooLong;
}

int DlgRunModal(WindowHandle, int resourceId, DialogInitHandler onInit, DialogCommandHandler onCommand)
{
    ConsoleDialog dialog;
    memset(&dialog, 0, sizeof dialog);
    dialog.resourceId = resourceId;
    dialog.selection = -1;
    if (onInit)
        onInit(&dialog);
    if (!onCommand)
        return 0;
    switch (resourceId) {
    case DialogCardSelection:
        RunCardSelection(&dialog, onCommand);
        break;
    case DialogDualBios:
        RunDualBios(&dialog, onCommand);
        break;
    default:
        onCommand(&dialog, DialogIdOk);
        break;
    }
    return dialog.ended ? dialog.result : 0;
}

void DlgEnd(DialogHandle handle, int result)
{
    ConsoleDialog* dialog = static_cast<ConsoleDialog*>(handle);
    dialog->ended = true;
    dialog->result = result;
}

void DlgListAddString(DialogHandle handle, int, const char* text)
{
    ConsoleDialog* dialog = static_cast<ConsoleDialog*>(handle);
    if (dialog->lineCount < ListCapacity)
        CopyBounded(dialog->lines[dialog->lineCount++], ListLineSize, text);
}

int DlgListGetSelection(DialogHandle handle, int)
{
    return static_cast<ConsoleDialog*>(handle)->selection;
}
