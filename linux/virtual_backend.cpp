#include "linux/virtual_backend.h"

#include <stdio.h>

#include "vcard/host/vcard_host.h"

namespace {

VcMachine* Machine;

bool Open()
{
    return Machine && !Machine->deviceOpenFails;
}

bool Control(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
             uint32_t* returned)
{
    return Machine && VcDeviceControl(Machine, code, input, inputLength, output, outputLength, returned);
}

void Advance(uint64_t nanoseconds)
{
    if (Machine)
        VcAdvance(Machine, nanoseconds);
}

}  // namespace

const DriverBackend VirtualBackend = {"virtual", Open, Control, Advance};

bool VirtualMachineLoad(const char* profile, char* error, size_t errorSize)
{
    if (!Machine)
        Machine = VcNewMachine();
    if (!Machine) {
        snprintf(error, errorSize, "no memory for the virtual machine");
        return false;
    }
    if (profile)
        return VcLoadProfile(profile, Machine, error, errorSize);
    return VcLoadProfileText(VcBuiltinProfile, "built-in machine", 0, Machine, error, errorSize);
}

bool VirtualMachineSave(char* error, size_t errorSize)
{
    return !Machine || VcSaveFlashFiles(Machine, error, errorSize);
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
