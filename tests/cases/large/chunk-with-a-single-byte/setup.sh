# The second chunk holds header records and one record of a single byte, so
# its part of the image is one byte long.
srecgen --size 3M --type 3 --data 32 --no-termination in.s19
printf 'S0030000FC\n%.0s' $(seq 300000) >>in.s19
echo S3060100000042B6 >>in.s19
objcopy -I srec -O binary --gap-fill 0xff in.s19 out.bin.expected
