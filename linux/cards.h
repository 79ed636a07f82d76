// The cards of a run as the front end names them: discovery without the
// start-up, PCI addresses, "list", and a card's flash part identified
// without the start-up's header lines (list -v, inspect).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "linux/options.h"

// Discovery alone, as the start-up runs it. False when the driver device
// cannot be opened.
bool DiscoverOnly();

// "0000:01:00.0": where card `index` of the card table sits. Slot indices
// number devices and functions as sysfs does (device s & 31, function s >> 5).
void CardAddressText(int index, char* text, size_t size);

// The card at `address` in the card table, or -1.
int FindCardAt(const CardAddress& address);

// What is known of a card's flash part.
struct CardPart {
    bool known;
    const char* why;  // when not known
    uint8_t makerId, deviceId;
    const struct FlashPartEntry* part;
    uint32_t flashInterface;
    uint32_t bytes;  // capacity by the part's organisation; 0: unknown
};

// Identifies the flash part of card `index` as the start-up does, without its
// messages and header lines. Needs RegistersReachable; CurrentCard is left 0.
CardPart IdentifyCardPart(int index);

// The part the start-up identified on the card it started on.
CardPart CurrentCardPart();

// "SST 29EE010 (BF,7), 128 KiB, 128-byte program units, parallel".
void DescribePart(const CardPart& part, char* text, size_t size);

// "list": the cards with their addresses; with `parts` each card's flash
// part on a line of its own. ExitOk, or ExitFailed without a card.
int ListCards(bool parts);

// The supported cards seen that cannot be worked on, one line each:
// "NV25 (253) at 0000:03:00.0, not usable: <why>".
void TellUnusableCards(FILE* out, const char* prefix);
