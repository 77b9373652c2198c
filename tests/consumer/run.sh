#!/bin/sh
# Builds and runs a host program against an installed acekit, once through
# the CMake package and once through pkg-config, and checks what else the
# installation holds.
#   run.sh STAGING_DIR [BUILD_DIR]
# With BUILD_DIR, that build is installed into STAGING_DIR first.
set -eu
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 STAGING_DIR [BUILD_DIR]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -eq 2 ]; then
  rm -rf "$1"
  cmake --install "$2" --prefix "$1" >/dev/null
fi
stage=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "consumer: $*" >&2
  exit 1
}

lib=$(find "$stage" -name 'libacekit.so.*.*.*' | head -n 1)
[ -n "$lib" ] || fail "no versioned libacekit.so under $stage"
libdir=$(dirname "$lib")
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = "libacekit.so.0" ] || fail "SONAME is '$soname', not libacekit.so.0"
[ -L "$libdir/libacekit.so.0" ] && [ -L "$libdir/libacekit.so" ] || fail "library links missing"
[ -f "$stage/include/acekit/exports.h" ] || fail "no include/acekit/exports.h"
[ -f "$stage/include/acekit/common/host_types.h" ] || fail "no include/acekit/common/host_types.h"
[ -f "$stage/include/acekit/acekit.h" ] || fail "no include/acekit/acekit.h"
[ -f "$stage/share/man/man1/acekit.1" ] || fail "no man page"
[ -f "$stage/share/bash-completion/completions/acekit" ] || fail "no bash completion"
[ -f "$stage/share/zsh/site-functions/_acekit" ] || fail "no zsh completion"
"$stage/bin/acekit" --version >/dev/null || fail "the installed acekit does not run"

echo "== CMake package"
cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_BUILD_TYPE=Release \
  >/dev/null
cmake --build "$work/cmake" >/dev/null
mkdir "$work/run-cmake"
"$work/cmake/consumer" "$work/run-cmake"
"$work/cmake/threads" "$work/run-cmake"

echo "== pkg-config"
PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --exists --print-errors acekit
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs acekit)
# shellcheck disable=SC2086
${CC:-cc} -std=c99 -Wall -Werror -o "$work/consumer-pc" "$here/consumer.c" $flags \
  -Wl,-rpath,"$libdir"
mkdir "$work/run-pc"
"$work/consumer-pc" "$work/run-pc"
# shellcheck disable=SC2086
${CC:-cc} -std=c99 -Wall -Werror -o "$work/threads-pc" "$here/threads.c" $flags -lpthread \
  -Wl,-rpath,"$libdir"
"$work/threads-pc" "$work/run-pc"
echo "consumer: both ways passed"
