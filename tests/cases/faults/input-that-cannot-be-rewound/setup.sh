# A writer feeds the FIFO while imgpack reads it; it gives up after 10 s
# should imgpack never open it.
mkfifo in.fifo
(timeout 10 cp records.s19 in.fifo &) >/dev/null 2>&1
