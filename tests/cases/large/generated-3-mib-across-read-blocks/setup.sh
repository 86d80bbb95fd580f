# Some 3 MiB of S3 records with CR LF line ends and gaps, so that lines cross
# the file reader's blocks; the image expected is the one GNU objcopy makes.
srecgen --size 3M --type 3 --data 120 --crlf --run 7 --gap 77 in.s19
objcopy -I srec -O binary --gap-fill 0xff in.s19 out.bin.expected
