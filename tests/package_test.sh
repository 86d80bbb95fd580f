#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and converts the
# shipped example with the installed binary, comparing the image with the
# expected one. Also checks that the manual page is in the package.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --workflow --preset package
package=$(ls build/release/imgpack_*.deb)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$package" "$root"

test -f "$root/usr/share/man/man1/imgpack.1" || { echo "FAIL: manual page missing from $package"; exit 1; }
"$root/usr/bin/imgpack" examples/blinky.s19 "$root/blinky.bin"
if cmp "$root/blinky.bin" examples/blinky.bin; then
    echo "package test: 1 passed, 0 failed"
else
    echo "FAIL: the packaged binary's image differs from examples/blinky.bin"
    exit 1
fi
