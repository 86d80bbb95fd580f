#!/usr/bin/env bash
# Builds the release files, the Debian package and the Windows zip, and
# writes them with a SHA256SUMS file to OUT_DIR:
#
#   tools/release.sh OUT_DIR
#
# The files are reproducible: they are built from the last commit (git archive,
# so uncommitted changes are not released) in a fresh folder, with every time
# stamp set to that commit's time (SOURCE_DATE_EPOCH) and the folder's name
# kept out of the binaries, so two builds in two places at two times give
# byte-identical files.
set -euo pipefail

# The Windows zip needs the mingw-w64 compiler that cmake/windows-x86_64.cmake
# names and groff for the manual page as text. Without them the run would
# stop only after the Debian package is built, in cmake's words: say it now.
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v groff >/dev/null || missing+=(groff-base)
if ((${#missing[@]} > 0)); then
    echo "release.sh: the Windows build needs: apt-get install ${missing[*]}" >&2
    exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git -C "$root" archive --format=tar HEAD | tar -x -C "$work"
cd "$work"

# stamp DIR: every file and folder below DIR gets the commit's time.
stamp() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }
stamp .
prefix_map=-ffile-prefix-map=$work=.

cmake --preset release -DCMAKE_CXX_FLAGS="$prefix_map" >/dev/null
cmake --build --preset release
stamp build/release
(cd build/release && cpack -G DEB >/dev/null)

cmake --preset windows -DCMAKE_BUILD_TYPE=Release -DIMGPACK_BUILD_TESTS=OFF -DIMGPACK_BUILD_FUZZ=OFF \
    -DCMAKE_CXX_FLAGS="$prefix_map" >/dev/null
cmake --build --preset windows
stamp build/windows
(cd build/windows && cpack -G ZIP >/dev/null)

cp build/release/imgpack_*.deb build/windows/imgpack-*-win64.zip "$out"
cd "$out"
sha256sum imgpack_*.deb imgpack-*-win64.zip >SHA256SUMS
cat SHA256SUMS
