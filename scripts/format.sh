#!/usr/bin/env bash
# Formats the tracked C++ sources (*.cpp, *.h) with clang-format and the
# repository's .clang-format. With --check, changes nothing: lists the files
# that formatting would change and fails if there are any.
# clang-format 14 (Debian 12's) is the one the tree is formatted with; set
# CLANG_FORMAT to use another binary.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
clang_format=${CLANG_FORMAT:-clang-format}
check=0
case "${1:-}" in
    --check) check=1 ;;
    "") ;;
    *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac
if ! command -v "$clang_format" >/dev/null; then
    echo "format.sh: $clang_format not found (clang-format 14 expected)" >&2
    exit 2
fi
version=$("$clang_format" --version | sed -n 's/.*version \([0-9]*\).*/\1/p')
if [ "$version" != 14 ]; then
    echo "format.sh: warning: clang-format $version, the tree is formatted with 14" >&2
fi

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "$check" = 0 ]; then
    "$clang_format" -i --style=file -- "${files[@]}"
    exit 0
fi
unformatted=()
for file in "${files[@]}"; do
    if ! "$clang_format" --dry-run -Werror --style=file -- "$file" >/dev/null 2>&1; then
        unformatted+=("$file")
    fi
done
if [ "${#unformatted[@]}" -gt 0 ]; then
    echo "not formatted (run scripts/format.sh):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "format.sh: ${#files[@]} files formatted"
