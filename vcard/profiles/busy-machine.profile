# A full machine: bridges, a sound chip, a network card, USB controllers and
# one graphics card of an id discovery does not know, next to a supported one.
device 0:0 0x8086:0x2570 subsystem=0x1043:0x80F2 class=0x060000              # host bridge
device 0:1 0x8086:0x2571 class=0x060400                                      # AGP bridge
device 0:29 0x8086:0x24D2 subsystem=0x1043:0x80A6 bar0=0x0000D001 class=0x0C0300   # USB
device 0:30 0x8086:0x244E class=0x060400                                     # PCI bridge
device 0:31 0x8086:0x24D0 class=0x060100                                     # ISA bridge
device 0:63 0x8086:0x24D5 subsystem=0x1043:0x80F3 bar0=0xFEBFF000 class=0x040100   # audio, function 1
device 2:4 0x10EC:0x8139 subsystem=0x1043:0x8109 bar0=0x0000E801 class=0x020000    # network
device 2:5 0x1002:0x5960 bar0=0xD8000008 class=0x030000                      # another maker's card
card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008
part 39VF010 file=busy-machine.rom image=04.28.20.05.01
