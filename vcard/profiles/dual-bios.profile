# A dual-BIOS board that booted from its second BIOS: ROM 1 holds an older
# image than ROM 2.
card 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000000 dual=rom2
part 29EE010 file=dual-bios-rom1.rom image=04.28.20.01
part 29EE010 file=dual-bios-rom2.rom image=04.28.20.05.01
