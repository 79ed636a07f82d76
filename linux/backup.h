// The backup an update makes before anything is erased.
#pragma once
#include <stddef.h>

// Reads the card's BIOS (ROM 1 on a dual-BIOS board, the part an update
// writes) with the engine's ROM read, writes it into a new file of the backup
// folder through the flow's image saving, which reads the card back and
// compares, and says where it went. ExitOk, or ExitFailed (said on stderr)
// with nothing erased. Needs the start-up done.
int BackUpCard(char* path, size_t size);
