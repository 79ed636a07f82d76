// Modal dialogs from resources whose decisions live in the portable code:
// the dialog procedure only forwards WM_INITDIALOG and WM_COMMAND.
#include <windows.h>

#include "platform/dialogs.h"

struct DialogHandlers {
    DialogInitHandler onInit;
    DialogCommandHandler onCommand;
};

static INT_PTR CALLBACK ForwardingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const DialogHandlers* handlers = reinterpret_cast<const DialogHandlers*>(lParam);
        if (!handlers->onInit)
            return FALSE;
        handlers->onInit(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        const DialogHandlers* handlers = reinterpret_cast<const DialogHandlers*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (handlers && handlers->onCommand) {
            handlers->onCommand(dialog, LOWORD(wParam));
            return TRUE;
        }
    }
    return FALSE;
}

int DlgRunModal(WindowHandle owner, int resourceId, DialogInitHandler onInit, DialogCommandHandler onCommand)
{
    DialogHandlers handlers = {onInit, onCommand};
    return static_cast<int>(DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(resourceId),
                                            static_cast<HWND>(owner), ForwardingDialogProc,
                                            reinterpret_cast<LPARAM>(&handlers)));
}

void DlgEnd(DialogHandle dialog, int result)
{
    EndDialog(static_cast<HWND>(dialog), result);
}

void DlgListAddString(DialogHandle dialog, int controlId, const char* text)
{
    SendDlgItemMessageA(static_cast<HWND>(dialog), controlId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

int DlgListGetSelection(DialogHandle dialog, int controlId)
{
    LRESULT selection = SendDlgItemMessageA(static_cast<HWND>(dialog), controlId, LB_GETCURSEL, 0, 0);
    return selection == LB_ERR ? -1 : static_cast<int>(selection);
}
