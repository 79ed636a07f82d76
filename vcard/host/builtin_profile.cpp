// The machine of runs without a profile: a few cards of different kinds next
// to ordinary devices, with generated BIOS images and no files.
#include "vcard/host/vcard_host.h"

const char VcBuiltinProfile[] =
    "device 0:0 0x8086:0x2570 class=0x060000\n"
    "card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xFD000000 interface=parallel\n"
    "part 29EE010 image=04.28.20.05.01\n"
    "card 0:10 0x10DE:0x0253 subsystem=0x1682:0x2350 bar0=0xE4000000 dual=rom2\n"
    "part 39VF010 image=04.25.00.28\n"
    "part 39VF010 image=04.25.00.31\n"
    "device 0:31 0x8086:0x24D5 subsystem=0x1043:0x80F3 bar0=0xFEBFF000 class=0x040100\n"
    "card 2:0 0x10DE:0x0322 subsystem=0x10DE:0x0000 bar0=0xE8000008 interface=spi\n"
    "part M25P10 image=04.34.20.19.00\n";
