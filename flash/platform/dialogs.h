// Seam to the dialogs of QZFlash: the one file dialog record with its open and
// save dialogs, and the modal card selection and dual-BIOS dialogs. The
// decisions of the two modal dialogs are portable (app/select_card.cpp,
// app/dual_bios.cpp); a platform only runs the dialog and forwards its
// initialisation and commands to them.
#pragma once
#include <stdint.h>
#include "platform/ui.h"

enum : uint32_t { FileDialogPathSize = 260 };

// Fills the file dialog record once: owner, filter "Bios Files (*.ROM)" /
// "*.rom" and "All Files (*.*)" / "*.*", first pair preselected, default
// extension "ROM".
void PrepareFileDialog(WindowHandle owner);

// Open / save dialogs over the record; `path` (initial name in, chosen name
// out) and `title` hold FileDialogPathSize characters. Non-zero when the user
// confirmed a name. The save dialog asks before overwriting. A dialog that
// fails (a name too long for the buffer, for one) counts as cancelled and
// leaves both buffers empty, since it may have left anything in them.
int ChooseOpenFile(WindowHandle owner, char* path, char* title);
int ChooseSaveFile(WindowHandle owner, char* path, char* title);
// The last open or save dialog gave no name because the name was too long.
bool FileNameTooLong();

typedef void* DialogHandle;   // HWND of the running dialog

enum : int {
    DialogCardSelection = 131,   // resource ids
    DialogDualBios = 133,
    CardListId = 1000,
};
enum : int { DialogIdOk = 1, DialogIdCancel = 2, CardDialogIdCancel = 7 };

// What a modal dialog forwards to the portable side.
typedef void (*DialogInitHandler)(DialogHandle dialog);
typedef void (*DialogCommandHandler)(DialogHandle dialog, int commandId);

// Runs the modal dialog `resourceId` owned by `owner` until a handler ends it
// (or its owner is destroyed); returns the value given to DlgEnd.
int DlgRunModal(WindowHandle owner, int resourceId, DialogInitHandler onInit, DialogCommandHandler onCommand);
void DlgEnd(DialogHandle dialog, int result);

// The list box of a dialog: add a line at the end; current selection (-1 none).
void DlgListAddString(DialogHandle dialog, int controlId, const char* text);
int DlgListGetSelection(DialogHandle dialog, int controlId);
