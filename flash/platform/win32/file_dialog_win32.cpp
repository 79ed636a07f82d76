// The one file dialog record shared by the open and save dialogs.
#include <windows.h>
#include <commdlg.h>

#include "platform/dialogs.h"

static OPENFILENAMEA FileDialogRecord;
static bool NameTooLong;

static const char FileDialogFilter[] = "Bios Files (*.ROM)\0*.rom\0All Files (*.*)\0*.*\0";

void PrepareFileDialog(WindowHandle owner)
{
    ZeroMemory(&FileDialogRecord, sizeof FileDialogRecord);
    // The older structure size, which every system this runs on accepts:
    // 76 bytes in the 32-bit program (a 64-bit build needs its own size).
    FileDialogRecord.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    FileDialogRecord.hwndOwner = static_cast<HWND>(owner);
    FileDialogRecord.hInstance = NULL;
    FileDialogRecord.lpstrFilter = FileDialogFilter;
    FileDialogRecord.lpstrCustomFilter = NULL;
    FileDialogRecord.nMaxCustFilter = 0;
    FileDialogRecord.nFilterIndex = 0;
    FileDialogRecord.lpstrInitialDir = NULL;
    FileDialogRecord.lpstrTitle = NULL;
    FileDialogRecord.lpstrDefExt = "ROM";
    FileDialogRecord.lpfnHook = NULL;
    FileDialogRecord.lpTemplateName = NULL;
}

static void FillRecord(WindowHandle owner, char* path, char* title, DWORD flags)
{
    FileDialogRecord.hwndOwner = static_cast<HWND>(owner);
    FileDialogRecord.lpstrFile = path;
    FileDialogRecord.nMaxFile = FileDialogPathSize;
    FileDialogRecord.lpstrFileTitle = title;
    FileDialogRecord.nMaxFileTitle = FileDialogPathSize;
    FileDialogRecord.Flags = flags;
}

// A cancelled dialog leaves the buffers as they were; a failed one may have
// put the size it needed into the first bytes of the name, which must not be
// shown or offered to the next dialog.
static int Finish(BOOL chosen, char* path, char* title)
{
    NameTooLong = false;
    if (chosen)
        return 1;
    DWORD error = CommDlgExtendedError();
    if (error != 0) {
        path[0] = 0;
        title[0] = 0;
        NameTooLong = error == FNERR_BUFFERTOOSMALL;
    }
    return 0;
}

int ChooseOpenFile(WindowHandle owner, char* path, char* title)
{
    // No OFN_FILEMUSTEXIST: a typed name is returned and fails at the open.
    FillRecord(owner, path, title, 0);
    return Finish(GetOpenFileNameA(&FileDialogRecord), path, title);
}

int ChooseSaveFile(WindowHandle owner, char* path, char* title)
{
    FillRecord(owner, path, title, OFN_OVERWRITEPROMPT);
    return Finish(GetSaveFileNameA(&FileDialogRecord), path, title);
}

bool FileNameTooLong()
{
    return NameTooLong;
}
