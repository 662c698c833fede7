#!/bin/sh
# Compiles the Windows resource script with MinGW's windres and checks what it holds: the icon
# group IDI_ICON1 with its three images (16, 32 and 256 pixels) and the 1.0.0.0 version record.
# Usage: check-windows-resources.sh <mirabex.rc> <output folder>
set -eu
rc=$1
out=$2
windres=$(command -v x86_64-w64-mingw32-windres || true)
if [ -z "$windres" ]; then
    echo "SKIP: x86_64-w64-mingw32-windres is not installed (Debian package binutils-mingw-w64-x86-64)"
    exit 77
fi
mkdir -p "$out"
"$windres" --input "$rc" --output "$out/mirabex.res" --output-format res
"$windres" --input "$out/mirabex.res" --input-format res --output-format rc > "$out/decompiled.rc"
fail() { echo "FAIL: $1 (see $out/decompiled.rc)"; exit 1; }
grep -q '"IDI_ICON1" 14 /\* RT_GROUP_ICON' "$out/decompiled.rc" || fail "no icon group IDI_ICON1"
grep -Eq 'FILEVERSION +1, *0, *0, *0' "$out/decompiled.rc" || fail "file version is not 1.0.0.0"
grep -Eq 'PRODUCTVERSION +1, *0, *0, *0' "$out/decompiled.rc" || fail "product version is not 1.0.0.0"
# The group lists one icon image per size: 16, 32 and 256 (written 0) pixels, 32 bits each.
grep -q 'Has 3 elements' "$out/decompiled.rc" || fail "the icon group does not hold 3 images"
images=3
for size in '\\020\\020' '\\040\\040' '\\000\\000'; do
    grep -q "\"$size\\\\000\\\\000\", 1, 32," "$out/decompiled.rc" || fail "no 32-bit image of size $size"
done
echo "Windows resources compile: IDI_ICON1 with $images images, version 1.0.0.0"
