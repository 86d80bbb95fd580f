# 4.4 MB of header records only, read in chunks: the span stays at its start.
printf 'S0030000FC\n%.0s' $(seq 400000) >in.s19
