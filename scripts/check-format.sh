#!/bin/sh
# Checks that the C++ sources follow .clang-format (Qt's style). Lists the files that do not and
# fails; "clang-format -i <file>" puts a file right.
set -eu
cd "$(dirname "$0")/.."
files=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' \
    'fuzz/*.cpp' 'fuzz/*.h' 2>/dev/null || find src tests bench fuzz -name '*.cpp' -o -name '*.h')
bad=""
for file in $files; do
    clang-format --style=file --dry-run --Werror "$file" >/dev/null 2>&1 || bad="$bad $file"
done
if [ -n "$bad" ]; then
    echo "Not formatted as .clang-format says:$bad" >&2
    exit 1
fi
echo "Formatting: $(echo "$files" | wc -w) files as .clang-format says"
