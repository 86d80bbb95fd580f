# 40 records of two bytes, each two bytes after the last, and the window's
# end two bytes past the last record: the trailing gap is still listed.
for ((i = 0; i < 40; i++)); do printf 'S105%04X1122FF\n' $((i * 4)); done >in.s19
