#!/usr/bin/env bash
# Remakes the toolchain cases in tests/cases/toolchains/ from the sources beside this
# script: S-records written by the GNU cross tools and srec_cat, each with the
# image that the cross objcopy makes from the same ELF file. Not run by CI; the
# cases it writes are committed.
#
# Needs: gcc-arm-none-eabi binutils-riscv64-unknown-elf gcc-avr avr-libc srecord
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cases=$here/../../tests/cases/toolchains
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -nostdlib -ffreestanding -T "$here/cortex_m.ld" \
    "$here/cortex_m.c" -o cortex_m.elf
riscv64-unknown-elf-as -march=rv32i -mabi=ilp32 "$here/riscv.S" -o riscv.o
riscv64-unknown-elf-ld -m elf32lriscv -T "$here/riscv.ld" riscv.o -o riscv.elf
avr-gcc -mmcu=atmega328p -Os "$here/avr.c" -o avr.elf

# write_case NAME STATUS STDOUT INPUT IMAGE [ARG...]: a case converting INPUT
# to out.bin, which must end up as IMAGE.
write_case() {
    local dir=$cases/${1#toolchain-}
    mkdir -p "$dir"
    install -m 644 "$4" "$dir/in.srec"
    install -m 644 "$5" "$dir/out.bin.expected"
    printf '%s\n' in.srec out.bin "${@:6}" >"$dir/args"
    printf '%s' "$3" >"$dir/stdout"
    echo "$2" >"$dir/status"
}

# converts NAME OBJCOPY ELF [OPTION...]: S-records and the image from one ELF file.
converts() {
    local name=$1 objcopy=$2 elf=$3
    "$objcopy" -O srec "${@:4}" "$elf" "$name.srec"
    # shellcheck disable=SC2046 # the options hold no spaces
    "$objcopy" -O binary --gap-fill 0xff $(printf '%s\n' "${@:4}" | grep -v '^--srec') "$elf" "$name.bin"
    write_case "$name" 0 "" "$name.srec" "$name.bin"
}

converts toolchain-arm-cortex-m arm-none-eabi-objcopy cortex_m.elf
converts toolchain-arm-cortex-m-120-bytes arm-none-eabi-objcopy cortex_m.elf --srec-len=120
converts toolchain-riscv riscv64-unknown-elf-objcopy riscv.elf
converts toolchain-riscv-8-bytes riscv64-unknown-elf-objcopy riscv.elf --srec-len=8
converts toolchain-avr avr-objcopy avr.elf -j .text -j .data
converts toolchain-avr-122-bytes avr-objcopy avr.elf -j .text -j .data --srec-len=122
converts toolchain-avr-forced-s3 avr-objcopy avr.elf -j .text -j .data --srec-forceS3

# A verbose run on the Cortex-M file.
high=$((0x08000000 + $(stat -c %s toolchain-arm-cortex-m.bin) - 1))
trace=$(printf 'Input file preprocessed. LowAddr = 0x08000000 HiAddr = 0x%08x' $high)
write_case toolchain-arm-cortex-m-verbose 0 "$trace
Read buffer successfully allocated.
Read buffer successfully filled.
Output file successfully written.
" toolchain-arm-cortex-m.srec toolchain-arm-cortex-m.bin -v

# srec_cat without its S5 count record converts like the objcopy file. Refused:
# srec_cat's default output, which ends with an S5 count record, and S3
# records of 121 bytes, whose lines are longer than 255 characters.
srec_cat toolchain-arm-cortex-m.srec -disable=data-count -o srec_cat.srec
write_case toolchain-srec-cat 0 "" srec_cat.srec toolchain-arm-cortex-m.bin
srec_cat toolchain-arm-cortex-m.srec -o srec_cat_count.srec
arm-none-eabi-objcopy -O srec --srec-len=121 cortex_m.elf too_long.srec
: >empty.bin
write_case toolchain-srec-cat-count-record 1 $'Input file read error or bad format\n' srec_cat_count.srec empty.bin
write_case toolchain-arm-cortex-m-121-bytes 1 $'Input file read error or bad format\n' too_long.srec empty.bin
echo "toolchain cases written to $cases"
