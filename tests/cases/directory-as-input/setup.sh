mkdir folder.s19
