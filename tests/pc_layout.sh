#!/usr/bin/env bash
# Configures the sources with the library directory two levels deep, as under
# /usr on a multiarch system, puts the quelt.pc made there where an install
# would, and checks that pkg-config finds the library and header directories
# from that place.
# Usage: pc_layout.sh CMAKE SOURCE_DIR
set -euo pipefail
cmake=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
libdir=lib/x86_64-linux-gnu
"$cmake" -S "$source" -B "$work/build" -DQUELT_TESTS=OFF -DCMAKE_INSTALL_LIBDIR="$libdir" >/dev/null
mkdir -p "$work/prefix/$libdir/pkgconfig" "$work/prefix/include"
cp "$work/build/quelt.pc" "$work/prefix/$libdir/pkgconfig/"
export PKG_CONFIG_PATH="$work/prefix/$libdir/pkgconfig"
for pair in "libdir $libdir" "includedir include"; do
  read -r variable expected <<<"$pair"
  dir=$(pkg-config --variable="$variable" quelt)
  if [ ! -d "$dir" ] || [ "$(cd "$dir" && pwd -P)" != "$(cd "$work/prefix/$expected" && pwd -P)" ]; then
    echo "quelt.pc gives $variable $dir" >&2
    exit 1
  fi
done
