#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian (no errors, no warnings),
# unpacks it and converts the shipped example with the packaged binary; then
# checks what a plain `cmake --install` lays out and that uninstalling removes it.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset package
package=$(ls build/release/imgpack_*.deb)
findings=$(lintian --tag-display-limit 0 "$package" 2>&1 | grep -E '^[EW]: ' || true)
[[ -z $findings ]] || { echo "FAIL: lintian on $package:"; echo "$findings"; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$package" "$root"
for file in usr/share/man/man1/imgpack.1.gz usr/share/doc/imgpack/copyright usr/share/doc/imgpack/changelog.gz \
    usr/share/lintian/overrides/imgpack; do
    [[ -f $root/$file ]] || { echo "FAIL: $file missing from $package"; exit 1; }
done
# Static, yet hardened: no shared library needed, position-independent, full RELRO.
binary=$root/usr/bin/imgpack
! readelf -d "$binary" | grep -q NEEDED || { echo "FAIL: the binary needs shared libraries"; exit 1; }
readelf -h "$binary" | grep -q 'DYN (Position-Independent' || { echo "FAIL: not position-independent"; exit 1; }
readelf -lW "$binary" | grep -q GNU_RELRO && readelf -d "$binary" | grep -q BIND_NOW ||
    { echo "FAIL: no full RELRO"; exit 1; }
"$root/usr/bin/imgpack" examples/blinky.s19 "$root/blinky.bin"
cmp "$root/blinky.bin" examples/blinky.bin || { echo "FAIL: the packaged binary's image differs"; exit 1; }

# A plain install lays out the program, the manual page and the documentation
# only, and the README's uninstall recipe leaves nothing behind.
prefix=$root/plain-install
cmake --install build/release --prefix "$prefix" >/dev/null
installed=$(cd "$prefix" && find . -type f | sort | tr '\n' ' ')
[[ $installed == "./bin/imgpack ./share/doc/imgpack/LICENSE ./share/doc/imgpack/README.md ./share/man/man1/imgpack.1.gz " ]] ||
    { echo "FAIL: a plain install lays out: $installed"; exit 1; }
xargs rm <build/release/install_manifest.txt && rmdir "$prefix/share/doc/imgpack"
left=$(find "$prefix" -type f)
[[ -z $left && ! -e $prefix/share/doc/imgpack ]] || { echo "FAIL: left after uninstalling: $left"; exit 1; }
echo "package test: lintian clean, static PIE with full RELRO, example converted, plain install and uninstall"
