#include "platform/recording/recording_ui.h"
#include <string.h>

UiRecording Recording;
void (*RecordingProgressHook)(int32_t done, int32_t total);
void (*RecordingPaintHook)();

namespace {

const uintptr_t FirstDc = 0x1000;
const uint32_t DcSlots = 64;
bool DcOut[DcSlots];
uint32_t NextDc;

void CopyText(char* dst, size_t size, const char* src)
{
    size_t n = 0;
    if (src != nullptr) {
        while (n + 1 < size && src[n] != 0) {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = 0;
}

} // namespace

void RecordingReset()
{
    memset(&Recording, 0, sizeof Recording);
    memset(DcOut, 0, sizeof DcOut);
    NextDc = 0;
    RecordingProgressHook = nullptr;
    RecordingPaintHook = nullptr;
}

void RecordingQueueAnswer(int answer)
{
    if (Recording.answerCount < RecordedAnswerCapacity)
        Recording.answers[Recording.answerCount++] = answer;
}

int32_t RecordingOpenDcs()
{
    return static_cast<int32_t>(Recording.dcGets) - static_cast<int32_t>(Recording.dcReleases);
}

const RecordedBox* RecordingFindBox(const char* text)
{
    uint32_t kept = Recording.boxCount < uint32_t(RecordedBoxCapacity) ? Recording.boxCount : uint32_t(RecordedBoxCapacity);
    for (uint32_t i = kept; i > 0; --i) {
        if (strcmp(Recording.boxes[i - 1].text, text) == 0)
            return &Recording.boxes[i - 1];
    }
    return nullptr;
}

const RecordedStatusDraw* RecordingLastStatusDraw()
{
    if (Recording.statusDrawCount == 0 || Recording.statusDrawCount > RecordedStatusCapacity)
        return nullptr;
    return &Recording.statusDraws[Recording.statusDrawCount - 1];
}

int UiMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type)
{
    int answer = UiIdOk;
    if (Recording.answerNext < Recording.answerCount)
        answer = Recording.answers[Recording.answerNext++];
    if (Recording.boxCount < RecordedBoxCapacity) {
        RecordedBox& box = Recording.boxes[Recording.boxCount];
        box.owner = owner;
        CopyText(box.text, sizeof box.text, text);
        CopyText(box.caption, sizeof box.caption, caption);
        box.hasCaption = caption != nullptr;
        box.type = type;
        box.answer = answer;
        box.afterDiscard = Recording.discardPending;
    }
    Recording.discardPending = false;
    ++Recording.boxCount;
    return answer;
}

DcHandle UiGetDC(WindowHandle)
{
    uint32_t slot = NextDc++ % DcSlots;
    DcOut[slot] = true;
    ++Recording.dcGets;
    return reinterpret_cast<DcHandle>(FirstDc + slot);
}

void UiReleaseDC(WindowHandle, DcHandle dc)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(dc);
    ++Recording.dcReleases;
    if (value < FirstDc || value >= FirstDc + DcSlots || !DcOut[value - FirstDc]) {
        ++Recording.dcForeignReleases;
        return;
    }
    DcOut[value - FirstDc] = false;
}

void UiDrawStatusLines(DcHandle dc)
{
    if (Recording.statusDrawCount < RecordedStatusCapacity) {
        RecordedStatusDraw& draw = Recording.statusDraws[Recording.statusDrawCount];
        draw.dc = dc;
        draw.lastStatusLine = LastStatusLine;
        int32_t last = LastStatusLine + 1;
        if (last > StatusLineCount - 1)
            last = StatusLineCount - 1;
        draw.lineCount = last < 0 ? 0 : last + 1;
        memset(draw.lines, 0, sizeof draw.lines);
        for (int32_t i = 0; i < draw.lineCount; ++i)
            memcpy(draw.lines[i], StatusLines[i], StatusLineSize);
    }
    ++Recording.statusDrawCount;
}

void UiDrawProgress(DcHandle dc, int32_t done, int32_t total)
{
    if (Recording.progressDrawCount < RecordedProgressCapacity)
        Recording.progressDraws[Recording.progressDrawCount] = RecordedProgressDraw{dc, done, total};
    ++Recording.progressDrawCount;
    if (RecordingProgressHook != nullptr)
        RecordingProgressHook(done, total);
}

void UiEraseProgress(DcHandle dc, int32_t left, int32_t top, int32_t height, int32_t step, int32_t count)
{
    if (Recording.eraseCount < RecordedEraseCapacity)
        Recording.erases[Recording.eraseCount] = RecordedErase{dc, left, top, height, step, count};
    ++Recording.eraseCount;
}

void UiShowStepProgress(uint32_t done, uint32_t total)
{
    ++Recording.stepProgressCount;
    Recording.lastStep = RecordedStepProgress{FlashPhase, done, total};
}

void UiShowWaitCursor(bool wait)
{
    Recording.waitCursor = wait;
    ++Recording.cursorChanges;
}

void UiPaintPending()
{
    ++Recording.paintPumps;
    if (RecordingPaintHook != nullptr)
        RecordingPaintHook();
}

void UiDiscardInput()
{
    ++Recording.inputDiscards;
    Recording.discardPending = true;
}
