# Large enough to be read in chunks by several threads, and starting above
# address 0, so that the chunks' spans must combine; the image expected is
# the one GNU objcopy makes.
srecgen --size 6M --type 2 --data 64 --crlf --run 5 --gap 100 --start 0x123456 in.s19
objcopy -I srec -O binary --gap-fill 0xff in.s19 out.bin.expected
