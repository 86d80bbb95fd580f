# A 0x1A ends the input: the records and the bad line after it, which fill the
# later chunks, are never read.
srecgen --size 1M --type 3 --data 32 --no-termination first.s19
srecgen --size 5M --type 3 --data 32 --start 0x100000 --seed 2 rest.s19
objcopy -I srec -O binary --gap-fill 0xff first.s19 out.bin.expected
{ cat first.s19; printf '\032'; cat rest.s19; echo bad; } >in.s19
