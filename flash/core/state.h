// Program-wide state of QZFlash: plain variables that live for the whole run
// and start zero or empty.
#pragma once
#include <signal.h>
#include <stdint.h>
#include "platform/ui.h"

enum : uint32_t { ImageBufferSize = 65536 };
// Paths are held up to MAX_PATH, so a deep program folder never yields a
// truncated driver path.
enum : uint32_t { PathBufferSize = 260 };

extern WindowHandle MainWindow;
extern DcHandle WindowDC;
extern bool AutoMode;
extern bool IsNtFamily;
extern bool NtNot2000;
extern char ProgramFolder[PathBufferSize];
extern bool FlashBusy;
extern bool DualBios;
extern int32_t SelectedCard;
extern uint8_t ImageBuffer[ImageBufferSize];
extern uint8_t SpareImageBuffer[ImageBufferSize];
extern uint32_t ImageLength;
extern bool ImageLoaded;
// The image in ImageBuffer was read from the file FilePath names; clear
// when it was read from the card, so that a copy of ROM 2 names no file.
extern bool ImageFromFile;
extern char FilePath[PathBufferSize];
// True from the start of the start-up sequence until the main window is
// destroyed.
extern bool MainWindowAlive;
// Set when an erase cycle goes to the flash part; a front end that reports
// per command clears it first. A write that fails with it set may have left
// the part erased or half-written. Also read by signal handlers.
extern volatile sig_atomic_t FlashPartTouched;
