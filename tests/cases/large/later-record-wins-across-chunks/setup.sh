# Records in the second chunk overwrite addresses that the first chunk fills
# near its end: the chunks' address ranges overlap, so they must fill one
# after the other in file order, and the later records win.
srecgen --size 4M --type 3 --data 32 --no-termination first.s19
objcopy -I srec -O binary --gap-fill 0xff first.s19 out.bin.expected
half=$(($(stat -c %s out.bin.expected) / 2))
srecgen --size 1M --type 3 --data 32 --start $half --seed 7 second.s19
objcopy -I srec -O binary second.s19 second.bin
dd if=second.bin of=out.bin.expected bs=64K seek=$half oflag=seek_bytes conv=notrunc status=none
cat first.s19 second.s19 >in.s19
