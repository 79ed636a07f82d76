# One AGP card with a parallel flash part.
card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008 interface=parallel
part 29EE010 file=one-card.rom image=04.28.20.05.01
