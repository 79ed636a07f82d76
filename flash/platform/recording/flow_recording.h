// Scripted seams for the command flows in tests: the service manager, the
// system calls, the file dialogs and modal dialogs, and the main window. Each
// records what the program asked for; answers come from the script. Image
// files go to the real file system (files_stdio.cpp), with injectable faults.
// Fixed storage only.
#pragma once
#include <stdint.h>
#include "platform/dialogs.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/ui.h"

// ---- service manager ----

enum ScriptedServiceCallKind : uint8_t {
    SvcCallOpenManager,
    SvcCallCreate,
    SvcCallOpen,
    SvcCallStart,
    SvcCallStop,
    SvcCallDelete,
    SvcCallClose,
    SvcCallGetImagePath,
    SvcCallSetImagePath,
    SvcCallIsStopped,
};

enum : uint32_t { ScriptedServiceCallCapacity = 64, ScriptedPathSize = 300 };

struct ScriptedServiceCall {
    ScriptedServiceCallKind kind;
    bool ok;
    uint32_t error;          // the error the call reported (0 on success)
    char name[32];           // service name, where the call has one
    char imagePath[ScriptedPathSize];
    uint32_t boxesBefore;    // message boxes shown before this call
};

struct ScriptedServiceManager {
    // Script.
    bool managerUnavailable;   // OpenSCManager fails (no administrator rights)
    uint32_t createError;      // CreateService fails with this error (0: behaves)
    uint32_t createFailures;   // ...this many times, then behaves (0: always)
    uint32_t startError;       // StartService fails with this error (0: behaves)
    bool stopFails;
    bool deleteFails;
    bool setImageFails;  // ChangeServiceConfig fails
    // The one service the tests look at.
    bool exists;
    bool running;
    char serviceName[32];
    char imagePath[ScriptedPathSize];
    // Told whenever `running` changes (tests tie the device open to it).
    void (*runningChanged)(bool running);
    // Told after every call, once it is recorded.
    void (*afterCall)(ScriptedServiceCallKind kind);
    // Record.
    int32_t openHandles;
    uint32_t callCount;
    ScriptedServiceCall calls[ScriptedServiceCallCapacity];
};

extern ScriptedServiceManager ScriptedServices;

// Calls of one kind, and the index of the first / last of them (-1 none).
uint32_t ScriptedServiceCallCount(ScriptedServiceCallKind kind);
int32_t ScriptedServiceFirstCall(ScriptedServiceCallKind kind);
int32_t ScriptedServiceLastCall(ScriptedServiceCallKind kind);

// ---- system ----

enum : uint32_t { ScriptedExitCapacity = 8 };

struct ScriptedSystem {
    // Script.
    bool versionFails;
    SysVersion version;
    char modulePath[ScriptedPathSize];
    int bitsPerPixel;
    bool tokenFails;
    uint32_t lastErrorAfterAdjust;
    bool exitFails;
    // Record.
    char currentDirectory[ScriptedPathSize];
    uint32_t winExecCount;
    char winExecCommand[64];
    int winExecShow;
    uint32_t winExecBoxesBefore;
    char privilegeName[64];
    bool privilegeEnabled;
    uint32_t exitCount;
    uint32_t exitFlags[ScriptedExitCapacity];
};

extern ScriptedSystem ScriptedSys;

// ---- file dialogs ----

enum : uint32_t { ScriptedFileAnswerCapacity = 8, ScriptedFileDialogCapacity = 16 };

struct ScriptedFileAnswer {
    bool confirm;
    char path[ScriptedPathSize];
};

struct RecordedFileDialog {
    bool save;
    WindowHandle owner;
    char initialPath[ScriptedPathSize];
    bool confirmed;
};

struct ScriptedFileDialogs {
    bool prepared;
    WindowHandle preparedOwner;
    uint32_t answerCount;
    uint32_t answerNext;
    ScriptedFileAnswer answers[ScriptedFileAnswerCapacity];
    uint32_t dialogCount;
    RecordedFileDialog dialogs[ScriptedFileDialogCapacity];
    bool nameTooLong;  // the last dialog failed on a name past FileDialogPathSize
};

extern ScriptedFileDialogs ScriptedFiles;

// The next file dialog returns `path` as if the user chose it (one too long
// for the buffer fails the dialog); unscripted dialogs are cancelled.
void ScriptFileChoice(const char* path);
void ScriptFileCancel();

// ---- modal dialogs ----

enum : uint32_t { ScriptedDialogActionCapacity = 16, RecordedDialogCapacity = 8, RecordedDialogLines = 10 };
enum : int { KeepSelection = -2 };

struct ScriptedDialogAction {
    int selection;   // list selection before the command (-1 none, KeepSelection)
    int commandId;
};

struct RecordedDialog {
    int resourceId;
    WindowHandle owner;
    uint32_t lineCount;
    char lines[RecordedDialogLines][64];
    int selection;
    uint32_t commandCount;
    bool ended;
    int result;
    bool ownerDestroyed;   // the dialog went with its destroyed owner
    bool unscripted;       // it ran out of scripted actions
    uint32_t boxesBefore;  // message boxes shown before it opened
};

struct ScriptedDialogs {
    uint32_t actionCount;
    uint32_t actionNext;
    ScriptedDialogAction actions[ScriptedDialogActionCapacity];
    uint32_t dialogCount;
    RecordedDialog dialogs[RecordedDialogCapacity];
};

extern ScriptedDialogs ScriptedModal;

// Queues a command for the next modal dialog (all dialogs share one queue).
void ScriptDialogCommand(int commandId, int selection = KeepSelection);
// The last recorded run of a dialog resource, or 0.
const RecordedDialog* FindRecordedDialog(int resourceId);

// ---- main window ----

struct RecordedWindow {
    uint32_t destroyCount;
    uint32_t showCount;
    uint32_t showBoxesBefore;      // message boxes shown before the first show
    uint32_t showStatusDrawsBefore;
    uint32_t enabledMenuItems;     // bit per position enabled
    uint32_t restoreMessages;
    bool quitPosted;
    int exitCode;
};

extern RecordedWindow RecordedMain;

// The window handle the recorded main window has.
extern WindowHandle const RecordedMainWindow;


// ---- files ----

struct ScriptedFileFaults {
    int32_t writeLimit;   // -1: none; otherwise a write stores at most this many bytes
    bool writeFails;      // WriteFile reports failure (after storing writeLimit bytes)
    bool closeFails;      // the data cannot be flushed when the file is committed
    bool readFails;
};

extern ScriptedFileFaults FileFaults;

// Clears every scripted seam above and the recording UI. The defaults: an NT
// 5.1 system, 32 bits per pixel, a program at C:\QZ\QZFlash.exe, a service
// manager without the service, no faults.
void FlowRecordingReset();
