// Choosing one of the cards found and making it ready: the selection dialog's
// decisions, the generation check, flash part identification, dual-BIOS
// detection and the four header lines of the status display.
#pragma once
#include <stdint.h>
#include "platform/dialogs.h"

enum { CardListLineSize = 64 };

// " NV28 (281) ,Vender ID=10DE ,Bus=1" for card `index` of the card table.
void CardListLine(int index, char* line, uint32_t size);

// Modal selection among the cards; sets SelectedCard, or ends the program
// when the user cancels.
void SelectCardDialog(WindowHandle owner);
void CardDialogInit(DialogHandle dialog);
void CardDialogCommand(DialogHandle dialog, int commandId);

bool IsSupportedGeneration(uint16_t deviceId);

// False when start-up must fail; the reason has been shown.
bool InitSelectedCard(WindowHandle window);
