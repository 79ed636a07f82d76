#include "linux/virtual_backend.h"

#include <stdio.h>

#include "linux/stop_signals.h"
#include "vcard/host/vcard_host.h"

namespace {

VcMachine* Machine;
// Programs and erases the parts had carried out when the machine was loaded.
uint64_t ChangesAtLoad;

uint64_t Changes()
{
    uint64_t count = 0;
    for (int c = 0; Machine && c < Machine->cardCount; ++c) {
        for (int i = 0; i < Machine->cards[c].partCount; ++i)
            count += Machine->cards[c].parts[i].programCount + Machine->cards[c].parts[i].eraseCount;
    }
    return count;
}

// A stop that came during a write: the part is kept as the write left it,
// as a real part would be, before the program ends.
void StopIfAsked()
{
    if (!StopPending())
        return;
    char error[1024];
    if (!VirtualMachineSave(error, sizeof error))
        fprintf(stderr, "qzflash: %s\n", error);
    StopNow();
}

bool Open()
{
    return Machine && !Machine->deviceOpenFails;
}

bool Control(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
             uint32_t* returned)
{
    StopIfAsked();
    return Machine && VcDeviceControl(Machine, code, input, inputLength, output, outputLength, returned);
}

void Advance(uint64_t nanoseconds)
{
    StopIfAsked();
    if (Machine)
        VcAdvance(Machine, nanoseconds);
}

uint64_t Clock()
{
    return Machine ? Machine->now : 0;
}

}  // namespace

const DriverBackend VirtualBackend = {"virtual", Open, Control, Advance, Clock};
bool VirtualFilesKept = true;
bool VirtualChangesDropped;

bool VirtualMachineLoad(const char* profile, char* error, size_t errorSize)
{
    if (!Machine)
        Machine = VcNewMachine();
    if (!Machine) {
        snprintf(error, errorSize, "no memory for the virtual machine");
        return false;
    }
    bool loaded = profile ? VcLoadProfile(profile, Machine, error, errorSize)
                          : VcLoadProfileText(VcBuiltinProfile, "built-in machine", 0, Machine, error, errorSize);
    ChangesAtLoad = Changes();
    return loaded;
}

bool VirtualMachineSave(char* error, size_t errorSize)
{
    // A run that neither erased nor programmed a part leaves the files alone,
    // so that a profile in a read-only folder can still be looked at.
    if (!Machine || Changes() == ChangesAtLoad)
        return true;
    if (!VirtualFilesKept) {
        VirtualChangesDropped = true;
        return true;
    }
    return VcSaveFlashFiles(Machine, error, errorSize);
}

void VirtualMachineFree()
{
    VcFreeMachine(Machine);
    Machine = 0;
}

VcMachine* VirtualMachineNow()
{
    return Machine;
}
