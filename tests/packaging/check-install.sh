#!/bin/sh
# Installs the build twice into a temporary prefix, the installed config.ini being edited in
# between, and checks the installed files and that the edited config.ini was kept.
# Usage: check-install.sh <build folder>
set -eu
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/mirabex-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $1"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/Mirabex bin/config.ini bin/values.ini \
        share/applications/mirabex.desktop share/metainfo/org.mirabex.Mirabex.metainfo.xml \
        share/icons/hicolor/16x16/apps/mirabex.png share/icons/hicolor/32x32/apps/mirabex.png \
        share/icons/hicolor/256x256/apps/mirabex.png; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/Mirabex" ] || fail "bin/Mirabex is not executable"
grep -q '^MainDir=/chemin/vers/arborescence$' "$prefix/bin/config.ini" || fail "config.ini template"
grep -qx "Exec=$prefix/bin/Mirabex" "$prefix/share/applications/mirabex.desktop" \
    || fail "the desktop entry does not start $prefix/bin/Mirabex"

printf 'MainDir=/srv/mon-arborescence\nEnvironnement=dev\n' > "$prefix/bin/config.ini"
echo 'prodVal=a' > "$prefix/bin/values.ini"
cmake --install "$build" --prefix "$prefix" >/dev/null
[ "$(cat "$prefix/bin/config.ini")" = "$(printf 'MainDir=/srv/mon-arborescence\nEnvironnement=dev')" ] \
    || fail "the edited config.ini was overwritten"
[ "$(cat "$prefix/bin/values.ini")" = "prodVal=a" ] || fail "the edited values.ini was overwritten"
echo "PASS"
