// qzflash: the flash utility's hardware path on a virtual machine.
//
//   qzflash [--virtual [PROFILE]] list
//
// Without a profile the built-in machine is used. `list` opens the kernel
// driver device, discovers the cards exactly as the Windows program does in
// driver mode and prints the card table.
#include <stdio.h>
#include <string.h>

#include "hw/hw.h"
#include "platform/driver_io.h"
#include "platform/virtual/virtual_platform.h"
#include "vcard/host/vcard_host.h"

namespace {

enum { ExitOk = 0, ExitNoCard = 1, ExitUsage = 2, ExitProfile = 3 };

void Usage(FILE* out)
{
    fputs("usage: qzflash [--virtual [PROFILE]] list\n"
          "  --virtual PROFILE  run on the machine the profile describes\n"
          "                     (default: a built-in machine with several cards)\n"
          "  list               find the supported cards and print the card table\n",
          out);
}

bool IsCommand(const char* word)
{
    return strcmp(word, "list") == 0;
}

void PrintCardTable()
{
    printf("Card  Bus  Slot  Vendor  Device  Subsystem  Window    Chip\n");
    for (int i = 0; i < CardCount; ++i) {
        const CardRecord& card = CardTable[i];
        const ChipEntry* chip = 0;
        FindChipEntry(card.VendorId, card.DeviceId, &chip);
        printf("%-4d  %-3u  %-4u  %04X    %04X    %04X:%04X  %08X  %s\n", i, card.BusNumber, card.SlotNumber,
               card.VendorId, card.DeviceId, card.SubsystemVendorId, card.SubsystemId, card.WindowBase,
               chip->Name);
    }
}

int List()
{
    AccessMode = AccessDriver;
    if (!DeviceOpen("\\\\.\\Norvik", &DeviceHandle)) {
        fputs("qzflash: cannot open the driver device\n", stderr);
        return ExitNoCard;
    }
    bool found = DiscoverCards();
    if (found)
        PrintCardTable();
    else
        fputs("qzflash: no supported card found\n", stderr);
    DeviceClose(DeviceHandle);
    DeviceHandle = 0;
    return found ? ExitOk : ExitNoCard;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* profile = 0;
    const char* command = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--virtual") == 0) {
            if (i + 1 < argc && !IsCommand(argv[i + 1]) && argv[i + 1][0] != '-')
                profile = argv[++i];
        } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            Usage(stdout);
            return ExitOk;
        } else if (IsCommand(arg) && !command) {
            command = arg;
        } else {
            fprintf(stderr, "qzflash: unexpected argument \"%s\"\n", arg);
            Usage(stderr);
            return ExitUsage;
        }
    }
    if (!command) {
        Usage(stderr);
        return ExitUsage;
    }

    VcMachine* machine = VcNewMachine();
    if (!machine) {
        fputs("qzflash: out of memory\n", stderr);
        return ExitProfile;
    }
    char error[512];
    bool loaded = profile ? VcLoadProfile(profile, machine, error, sizeof error)
                          : VcLoadProfileText(VcBuiltinProfile, "built-in machine", 0, machine, error, sizeof error);
    if (!loaded) {
        fprintf(stderr, "qzflash: %s\n", error);
        VcFreeMachine(machine);
        return ExitProfile;
    }
    VirtualPlatformAttach(machine);

    int result = List();

    VirtualPlatformAttach(0);
    VcFreeMachine(machine);
    return result;
}
