# Access and modification times after January 2038, past a 32-bit time_t: a
# 32-bit build without 64-bit times cannot even look at the file (EOVERFLOW).
touch -a -m -d 2039-01-01 in.s19
after_2038=$(date -d 2039-01-01 +%s)
(($(stat -c %X in.s19) >= after_2038 && $(stat -c %Y in.s19) >= after_2038)) ||
    skip "the scratch folder's file system cannot hold times after 2038"
