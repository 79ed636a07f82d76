// Entry of QZFlash.exe: window class, single instance, the main window (whose
// creation runs the whole start-up) and the message loop.
#include <windows.h>

#include "app/main_window.h"
#include "core/state.h"
#include "app/windows/main_window_proc.h"
#include "app/windows/resource.h"
#include "platform/dialogs.h"

// The resource script and the portable code must agree on every identifier.
static_assert(IDM_UPDATE_BIOS == CmdUpdateBios && IDM_RESTORE_BIOS == CmdRestoreBios &&
                  IDM_SAVE_BIOS == CmdSaveBios && IDM_EXIT == CmdExit && IDM_ABOUT == CmdAbout &&
                  IDM_LOAD_IMAGE == CmdLoadImage && IDM_SAVE_IMAGE == CmdSaveImage && IDM_REBOOT == CmdReboot &&
                  IDM_NOTHING == CmdNothing,
              "command identifiers");
static_assert(IDD_ABOUT == AboutDialogId && IDD_CARD_SELECTION == DialogCardSelection &&
                  IDD_DUAL_BIOS == DialogDualBios,
              "dialog identifiers");
static_assert(IDC_CARD_LIST == CardListId && IDC_CARD_CANCEL == CardDialogIdCancel, "control identifiers");

namespace {

enum { LoadedTextSize = 100, WindowWidth = 500, WindowHeight = 300 };

HINSTANCE ProgramInstance;
char WindowTitle[LoadedTextSize];
char WindowClassName[LoadedTextSize];

bool RegisterMainClass()
{
    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = ProgramInstance;
    windowClass.hIcon = LoadIconA(ProgramInstance, MAKEINTRESOURCEA(IDI_QZFLASH));
    windowClass.hIconSm = static_cast<HICON>(LoadImageA(ProgramInstance, MAKEINTRESOURCEA(IDI_SMALL), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDM_MAIN);
    windowClass.lpszClassName = WindowClassName;
    return RegisterClassExA(&windowClass) != 0;
}

HWND CreateMainWindow()
{
    int x = (GetSystemMetrics(SM_CXSCREEN) - WindowWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - WindowHeight) / 2;
    // A caption without system menu, minimise or maximise box, and no sizing border.
    return CreateWindowExA(0, WindowClassName, WindowTitle, WS_POPUP | WS_CAPTION, x, y, WindowWidth, WindowHeight,
                           NULL, NULL, ProgramInstance, NULL);
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (TranslateAcceleratorA(message.hwnd, accelerators, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    ProgramInstance = instance;
    LoadStringA(instance, IDS_APP_TITLE, WindowTitle, LoadedTextSize);
    LoadStringA(instance, IDS_CLASS_NAME, WindowClassName, LoadedTextSize);
    RegisterMainClass();

    // One copy at a time: a second start only shows the first one's window.
    HWND running = FindWindowA(WindowClassName, NULL);
    if (running) {
        ShowWindow(running, SW_SHOW);
        return 0;
    }

    AutoMode = ParseAutoMode(commandLine);
    HWND window = CreateMainWindow();
    if (!window)
        return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_MAIN));
    return RunMessageLoop(accelerators);
}
