#!/usr/bin/env bash
# Installs the Debian packages that are missing, builds, and then runs the
# example host program (./build.sh example), every test (./build.sh test) or
# a fuzz target (./build.sh fuzz [seconds] [compile|run|schema]).
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES="cmake make g++ pkg-config libsqlite3-dev libboost-regex-dev libgtest-dev"
JOBS=$(nproc)

install_missing() {
  local missing=()
  for package in $PACKAGES; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

run_tests() {
  local dir=$1
  shift
  build "$dir" "$@"
  ctest --test-dir "$dir" --output-on-failure -j"$JOBS"
}

case "${1:-}" in
  example)
    install_missing
    build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_TESTS=OFF
    ./build/release/examples/quelt_example
    ;;
  test)
    install_missing
    run_tests build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_TESTS=ON
    run_tests build/sanitize -DCMAKE_BUILD_TYPE=Debug -DQUELT_SANITIZE=ON -DQUELT_TESTS=ON
    ;;
  fuzz)
    PACKAGES="$PACKAGES clang libclang-rt-14-dev"
    install_missing
    export CC=clang CXX=clang++
    build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_FUZZ=ON -DQUELT_TESTS=ON
    target=${3:-compile}
    case "$target" in
      compile) seeds=fuzz/corpus ;;
      *) seeds=fuzz/${target}_corpus ;;
    esac
    corpus=$(mktemp -d)
    cp "$seeds"/* "$corpus"
    # A timeout is a finding for every target: a compile and a schema rewrite
    # always end, and damaged logic is refused before it runs, so a run-time
    # timeout is a text to look at (a loop as written, or damage that the
    # check let through).
    ./build/fuzz/fuzz/"$target"_fuzzer "$corpus" -max_total_time="${2:-900}" -max_len=4096 -timeout=10
    ;;
  *)
    echo "usage: $0 example|test|fuzz [seconds] [compile|run|schema]" >&2
    exit 2
    ;;
esac
