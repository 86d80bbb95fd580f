ln in.s19 hard.s19
