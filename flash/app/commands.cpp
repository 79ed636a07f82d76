#include "app/commands.h"

#include "app/dual_bios.h"
#include "core/status.h"
#include "engine/flash.h"
#include "engine/image.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/ui.h"

char FileTitle[PathBufferSize];

static const char RebootAfterSwitchText[] = "Please set the Switch Button and Reboot the computer!!";
static const char RebootText[] = "Please reboot the system to make the changes you make effective!";

bool LoadImageFile(uint8_t* buffer, const char* path)
{
    FileHandle file = FileOpenRead(path);
    if (!file)
        return false;
    uint32_t total = 0;
    bool readOk = true;
    while (total < ImageBufferSize) {
        uint32_t done = 0;
        if (!FileRead(file, buffer + total, ImageBufferSize - total, &done)) {
            readOk = false;
            break;
        }
        if (done == 0)
            break;
        total += done;
    }
    FileClose(file);

    // Only a whole image that fits the buffer is taken: a bad header, a
    // length past the buffer or a file cut short would otherwise leave stale
    // buffer bytes to be flashed.
    uint32_t length = 0;
    if (!readOk || !ImageLengthFromHeader(buffer, &length) || length > ImageBufferSize || total < length) {
        ImageLoaded = false;
        return false;
    }
    ImageLength = length;
    ImageLoaded = true;
    ImageFromFile = true;
    return true;
}

bool SaveImageFile(const char* path, const uint8_t* buffer)
{
    uint32_t length = 0;
    if (!ImageLengthFromHeader(buffer, &length) || length > ImageBufferSize)
        return false;
    // Written whole or not at all: until the commit, and after any failure,
    // whatever was at the path stays as it was (it may be the only copy of
    // an older BIOS).
    FileHandle file = FileCreate(path);
    if (!file)
        return false;
    uint32_t done = 0;
    if (!FileWrite(file, buffer, length, &done) || done != length) {
        FileAbort(file);
        return false;
    }
    // A full disk may only tell when the data is flushed.
    if (!FileCommit(file))
        return false;
    return VerifyRom(buffer);
}

// A dialog given a name longer than the path buffer fails; the choice counts
// as cancelled, and the person is told why.
static void TellWhyNoName()
{
    if (FileNameTooLong())
        UiMessageBox(MainWindow, "The file path is too long.", "Error", UiMbOk);
}

bool ChooseImageToOpen()
{
    if (ChooseOpenFile(MainWindow, FilePath, FileTitle))
        return true;
    TellWhyNoName();
    return false;
}

bool ChooseImageToSave()
{
    if (ChooseSaveFile(MainWindow, FilePath, FileTitle))
        return true;
    TellWhyNoName();
    return false;
}

static void ShowOpenFailure()
{
    SetStatusText("File open faile  ");
    AppendStatusText(FilePath);
    ShowStatusText();
}

void UpdateBios()
{
    ClearCommandStatus();
    DrawStatusLines(WindowDC);
    if (DualBios && !SelectRom1()) {
        PutUpText("Can't setup as ROM 1 ..");
        return;
    }
    if (!ChooseImageToOpen()) {
        ShowOpenFailure();
        return;
    }
    if (!LoadImageFile(ImageBuffer, FilePath)) {
        ShowOpenFailure();
        return;
    }
    if (FlashImage())
        UiMessageBox(MainWindow, DualBios ? RebootAfterSwitchText : RebootText, "Message", UiMbOk);
}

void RestoreBios()
{
    ClearCommandStatus();
    DrawStatusLines(WindowDC);
    if (!SelectRom2()) {
        PutUpText("Can't setup as ROM 2  ..");
        return;
    }
    // A driver read that fails yields 0 for its byte and says nothing else;
    // copied into ROM 1 it would verify against itself. A second pass over
    // ROM 2 must agree before ROM 1 is erased.
    if (!ReadRomImage(ImageBuffer) || !VerifyRom(ImageBuffer)) {
        PutUpText("Can't read from ROM 2 ");
        return;
    }
    if (!SelectRom1()) {
        PutUpText("Can't setup as ROM 1 ..");
        return;
    }
    if (FlashImage())
        UiMessageBox(MainWindow, RebootAfterSwitchText, "Message", UiMbOk);
}

void SaveBios()
{
    ClearCommandStatus();
    DrawStatusLines(WindowDC);
    if (DualBios)
        SelectRom2();
    if (!ReadRomImage(ImageBuffer)) {
        UiMessageBox(MainWindow, "File not open ! ", "Error", UiMbOk);
        return;
    }
    ImageLoaded = true;
    if (ChooseImageToSave() && SaveImageFile(FilePath, ImageBuffer)) {
        SetStatusText("Save file to  ");
        AppendStatusText(FilePath);
        ShowStatusText();
        UiMessageBox(MainWindow, "Back up completed  !! ", "Message", UiMbOk);
        return;
    }
    UiMessageBox(MainWindow, "File open faile ,can't backup from BOIS", "Error", UiMbOk);
}
