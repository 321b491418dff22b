#!/usr/bin/env bash
# The shared library exports exactly the functions that quelt.h declares:
# Edit_* and Qb_* under their plain names, Startup and Shutdown mangled.
set -euo pipefail
library=$1
header=$2
expected=$( (grep -o 'QUELT_API [a-z]* \(Edit\|Qb\)_[A-Za-z]*' "$header" | awk '{print $3}'
             grep -o 'QUELT_API void \(Startup\|Shutdown\)()' "$header" |
               sed 's/QUELT_API void \([A-Za-z]*\)()/\1/' | awk '{print "_Z" length($1) $1 "v"}') | sort)
actual=$(nm -D --defined-only --format=posix "$library" | awk '{print $1}' | sort)
if [ "$expected" != "$actual" ]; then
  diff <(echo "$expected") <(echo "$actual") || true
  echo "exported names differ from quelt.h (< header only, > library only)" >&2
  exit 1
fi
echo "$(echo "$actual" | wc -l) names exported"
