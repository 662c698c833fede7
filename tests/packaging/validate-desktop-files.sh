#!/bin/sh
# Validates the desktop entry and the AppStream metainfo with the freedesktop.org tools.
# Usage: validate-desktop-files.sh <packaging folder>
set -eu
dir=$1
for tool in desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (Debian packages desktop-file-utils and appstream)"
        exit 77
    fi
done
desktop-file-validate "$dir/mirabex.desktop"
appstreamcli validate --no-net "$dir/org.mirabex.Mirabex.metainfo.xml"
