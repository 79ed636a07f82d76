// The commands that hold an image file against the cards without writing:
// "verify" (the card's BIOS against the file) and "inspect" (what the file
// holds, and which cards it suits).
#pragma once

// The card's BIOS (ROM 1 on a dual-BIOS board, the one an update writes)
// compared with the image in `path`, as long as its header says. Needs the
// start-up done. ExitOk when identical, ExitFailed when different or when
// the file is not an image.
int VerifyCard(const char* path);

// What `path` holds, and for each card found whether it is made for it and
// fits its flash part. Needs no start-up. ExitOk when an update would take
// the image, ExitFailed otherwise.
int InspectImage(const char* path);
