# Three cards: one on the AGP bus 1, two on PCI bus 0. Discovery through the
# kernel driver numbers the bus 1 card first.
device 0:0 0x8086:0x2570 class=0x060000             # host bridge
device 0:1 0x8086:0x2571 class=0x060400             # AGP bridge
card 1:0 0x10DE:0x0322 subsystem=0x1458:0x3501 bar0=0xE8000008 interface=spi
part M25P10 file=three-cards-1.rom image=04.34.20.19.00
card 0:9 0x10DE:0x0253 subsystem=0x1682:0x2350 bar0=0xE4000000
part 29EE010 file=three-cards-2.rom image=04.25.00.28
card 0:10 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE6000000
part 39VF010 file=three-cards-3.rom image=04.28.20.05
