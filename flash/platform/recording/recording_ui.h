// The UI seam for tests: records what the program shows and answers message
// boxes from a script. Fixed storage only, so a recorded run allocates
// nothing; entries past a capacity are counted but not kept.
#pragma once
#include <stdint.h>
#include "core/status.h"
#include "platform/ui.h"

enum {
    RecordedBoxCapacity = 64,
    RecordedBoxTextSize = 512,
    RecordedStatusCapacity = 64,
    RecordedProgressCapacity = 1024,
    RecordedEraseCapacity = 64,
    RecordedAnswerCapacity = 16,
};

struct RecordedBox {
    WindowHandle owner;
    char text[RecordedBoxTextSize];
    char caption[64];
    bool hasCaption;
    uint32_t type;
    int answer;
    bool afterDiscard;  // queued input was dropped since the box before it
};

// The lines UiDrawStatusLines would paint, as they were at the call.
struct RecordedStatusDraw {
    DcHandle dc;
    int32_t lastStatusLine;
    int32_t lineCount;
    char lines[StatusLineCount][StatusLineSize];
};

struct RecordedProgressDraw {
    DcHandle dc;
    int32_t done;
    int32_t total;
};

struct RecordedErase {
    DcHandle dc;
    int32_t left;
    int32_t top;
    int32_t height;
    int32_t step;
    int32_t count;
};

struct RecordedStepProgress {
    FlashPhaseKind phase;
    uint32_t done;
    uint32_t total;
};

struct UiRecording {
    uint32_t boxCount;
    RecordedBox boxes[RecordedBoxCapacity];
    uint32_t statusDrawCount;
    RecordedStatusDraw statusDraws[RecordedStatusCapacity];
    uint32_t progressDrawCount;
    RecordedProgressDraw progressDraws[RecordedProgressCapacity];
    uint32_t eraseCount;
    RecordedErase erases[RecordedEraseCapacity];
    uint32_t stepProgressCount;
    RecordedStepProgress lastStep;
    uint32_t answerCount;
    uint32_t answerNext;
    int answers[RecordedAnswerCapacity];
    uint32_t dcGets;
    uint32_t dcReleases;
    uint32_t dcForeignReleases;   // releases of a context that was not handed out
    uint32_t cursorChanges;
    bool waitCursor;
    uint32_t paintPumps;
    uint32_t inputDiscards;
    bool discardPending;
};

extern UiRecording Recording;
// Called at every progress draw, so a test can note what the card had done by
// then. Cleared by RecordingReset.
extern void (*RecordingProgressHook)(int32_t done, int32_t total);
// Called at every paint pump. Cleared by RecordingReset.
extern void (*RecordingPaintHook)();

void RecordingReset();
// Answers for the next message boxes, in order; unscripted boxes get OK.
void RecordingQueueAnswer(int answer);
// Device contexts handed out and not yet released.
int32_t RecordingOpenDcs();
// The last box whose text equals text, or 0.
const RecordedBox* RecordingFindBox(const char* text);
const RecordedStatusDraw* RecordingLastStatusDraw();
