# The one bad line is the last line of a file read in chunks.
srecgen --size 6M --type 3 --data 32 in.s19
echo S5030001FB >>in.s19
