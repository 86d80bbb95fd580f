# 50 records of two bytes, each two bytes after the last: 50 ranges, 49 gaps.
for ((i = 0; i < 50; i++)); do printf 'S105%04X1122FF\n' $((i * 4)); done >in.s19
