#include "core/state.h"

WindowHandle MainWindow;
DcHandle WindowDC;
bool AutoMode;
bool IsNtFamily;
bool NtNot2000;
char ProgramFolder[PathBufferSize];
bool FlashBusy;
bool DualBios;
int32_t SelectedCard;
uint8_t ImageBuffer[ImageBufferSize];
uint8_t SpareImageBuffer[ImageBufferSize];
uint32_t ImageLength;
bool ImageLoaded;
bool ImageFromFile;
char FilePath[PathBufferSize];
bool MainWindowAlive;
volatile sig_atomic_t FlashPartTouched;
