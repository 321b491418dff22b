#!/usr/bin/env bash
# Installs the library into a temporary prefix, builds tests/install/host.c
# there with the README's pkg-config line and its run path, and runs it
# without LD_LIBRARY_PATH: the run path alone finds the installed library.
# Usage: install_host.sh CMAKE BUILD_DIR COMPILER HOST_SOURCE [FLAG...]
# (the flags, which come before the source, are those that a host of the
# build needs, such as the sanitizers').
set -euo pipefail
cmake=$1 build=$2 cc=$3 source=$4
shift 4
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name quelt.pc)
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
# shellcheck disable=SC2046 # the pkg-config line splits into words on purpose
"$cc" "$@" "$source" -o "$prefix/host" $(pkg-config --cflags --libs quelt) \
  -Wl,-rpath,"$(pkg-config --variable=libdir quelt)"
env -u LD_LIBRARY_PATH "$prefix/host" "$prefix/new.smf"
