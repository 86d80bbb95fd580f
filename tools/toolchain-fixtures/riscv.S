# A minimal RISC-V program: a start-up routine, a table of words and a string,
# linked to run from flash at 0x20010000.
    .section .text
    .globl _start
_start:
    la      sp, 0x80004000
    la      t0, table
    li      t1, 8
1:  lw      t2, 0(t0)
    addi    t0, t0, 4
    addi    t1, t1, -1
    bnez    t1, 1b
    j       _start

    .section .rodata
    .balign 4
table:
    .word   0x00000001, 0x00000010, 0x00000100, 0x00001000
    .word   0xdeadbeef, 0xcafef00d, 0x8badf00d, 0xfeedface
message:
    .asciz  "RISC-V fixture for imgpack"
