// Scripted file dialogs and modal dialogs. A modal dialog runs its init
// handler, then takes commands from the script until a handler ends it or its
// owner, the main window, is destroyed.
#include <string.h>

#include "core/state.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

ScriptedFileDialogs ScriptedFiles;
ScriptedDialogs ScriptedModal;

namespace {

void CopyBounded(char* dst, size_t size, const char* src)
{
    size_t n = 0;
    while (src && n + 1 < size && src[n]) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
}

int RunFileDialog(bool save, WindowHandle owner, char* path, char* title)
{
    ScriptedFileDialogs& f = ScriptedFiles;
    bool confirm = false;
    const char* chosen = 0;
    if (f.answerNext < f.answerCount) {
        const ScriptedFileAnswer& answer = f.answers[f.answerNext++];
        confirm = answer.confirm;
        chosen = answer.path;
    }
    if (f.dialogCount < ScriptedFileDialogCapacity) {
        RecordedFileDialog& record = f.dialogs[f.dialogCount];
        record.save = save;
        record.owner = owner;
        CopyBounded(record.initialPath, sizeof record.initialPath, path);
        record.confirmed = confirm;
    }
    ++f.dialogCount;
    // A chosen name too long for the buffer fails the dialog, as on Windows.
    f.nameTooLong = confirm && strlen(chosen) >= FileDialogPathSize;
    if (f.nameTooLong) {
        path[0] = 0;
        title[0] = 0;
        return 0;
    }
    if (!confirm)
        return 0;   // a cancelled dialog leaves the buffers alone
    CopyBounded(path, FileDialogPathSize, chosen);
    const char* name = chosen;
    for (const char* c = chosen; *c; ++c) {
        if (*c == '\\' || *c == '/')
            name = c + 1;
    }
    CopyBounded(title, FileDialogPathSize, name);
    return 1;
}

RecordedDialog* Current(DialogHandle dialog)
{
    return static_cast<RecordedDialog*>(dialog);
}

RecordedDialog Spare;   // runs past the capacity land here

} // namespace

void ScriptFileChoice(const char* path)
{
    if (ScriptedFiles.answerCount < ScriptedFileAnswerCapacity) {
        ScriptedFileAnswer& answer = ScriptedFiles.answers[ScriptedFiles.answerCount++];
        answer.confirm = true;
        CopyBounded(answer.path, sizeof answer.path, path);
    }
}

void ScriptFileCancel()
{
    if (ScriptedFiles.answerCount < ScriptedFileAnswerCapacity) {
        ScriptedFileAnswer& answer = ScriptedFiles.answers[ScriptedFiles.answerCount++];
        answer.confirm = false;
        answer.path[0] = 0;
    }
}

void PrepareFileDialog(WindowHandle owner)
{
    ScriptedFiles.prepared = true;
    ScriptedFiles.preparedOwner = owner;
}

int ChooseOpenFile(WindowHandle owner, char* path, char* title)
{
    return RunFileDialog(false, owner, path, title);
}

int ChooseSaveFile(WindowHandle owner, char* path, char* title)
{
    return RunFileDialog(true, owner, path, title);
}

bool FileNameTooLong()
{
    return ScriptedFiles.nameTooLong;
}

void ScriptDialogCommand(int commandId, int selection)
{
    if (ScriptedModal.actionCount < ScriptedDialogActionCapacity) {
        ScriptedDialogAction& action = ScriptedModal.actions[ScriptedModal.actionCount++];
        action.commandId = commandId;
        action.selection = selection;
    }
}

const RecordedDialog* FindRecordedDialog(int resourceId)
{
    uint32_t kept = ScriptedModal.dialogCount < RecordedDialogCapacity ? ScriptedModal.dialogCount
                                                                       : RecordedDialogCapacity;
    for (uint32_t i = kept; i > 0; --i) {
        if (ScriptedModal.dialogs[i - 1].resourceId == resourceId)
            return &ScriptedModal.dialogs[i - 1];
    }
    return 0;
}

int DlgRunModal(WindowHandle owner, int resourceId, DialogInitHandler onInit, DialogCommandHandler onCommand)
{
    ScriptedDialogs& s = ScriptedModal;
    RecordedDialog* run = s.dialogCount < RecordedDialogCapacity ? &s.dialogs[s.dialogCount] : &Spare;
    ++s.dialogCount;
    memset(run, 0, sizeof *run);
    run->resourceId = resourceId;
    run->owner = owner;
    run->selection = -1;
    run->boxesBefore = Recording.boxCount;
    if (onInit)
        onInit(run);
    while (!run->ended) {
        if (!MainWindowAlive) {
            run->ownerDestroyed = true;
            run->ended = true;
            run->result = 0;
            break;
        }
        if (s.actionNext >= s.actionCount) {
            run->unscripted = true;
            run->ended = true;
            run->result = -1;
            break;
        }
        const ScriptedDialogAction& action = s.actions[s.actionNext++];
        if (action.selection != KeepSelection)
            run->selection = action.selection;
        ++run->commandCount;
        if (onCommand)
            onCommand(run, action.commandId);
    }
    return run->result;
}

void DlgEnd(DialogHandle dialog, int result)
{
    Current(dialog)->ended = true;
    Current(dialog)->result = result;
}

void DlgListAddString(DialogHandle dialog, int, const char* text)
{
    RecordedDialog* run = Current(dialog);
    if (run->lineCount < RecordedDialogLines)
        CopyBounded(run->lines[run->lineCount], sizeof run->lines[0], text);
    ++run->lineCount;
}

int DlgListGetSelection(DialogHandle dialog, int)
{
    RecordedDialog* run = Current(dialog);
    return run->selection < static_cast<int>(run->lineCount) ? run->selection : -1;
}
