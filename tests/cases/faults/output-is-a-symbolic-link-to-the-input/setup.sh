ln -s in.s19 soft.s19
