# A card whose straps select the SPI interface, with an Atmel serial part
# (the second of its two device codes).
card 1:0 0x10DE:0x0322 subsystem=0x10DE:0x0000 bar0=0xE0000000 interface=spi
part AT25F1024 code=0x40 file=spi-card.rom image=04.34.20.19.00
