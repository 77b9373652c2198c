#!/bin/sh
# Compares the dynamic symbol table of the built library with the list of
# exports that must be there, and nothing else.
# usage: check_exports.sh LIBRARY EXPECTED_LIST [objdump]
lib=$1
expected=$2
tool=${3:-nm}
actual=$(mktemp)
want=$(mktemp)
trap 'rm -f "$actual" "$want"' EXIT
case "$tool" in
  nm) nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWiV]$/ {print $3}' ;;
  *) "$tool" -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[/ {print $NF} t && /^$/ {t=0}' ;;
esac | sed 's/@.*//' | sort -u > "$actual"
sort -u "$expected" > "$want"
if ! diff -u "$want" "$actual"; then
  echo "export table of $lib differs from $expected (- missing, + unexpected)"
  exit 1
fi
echo "export table of $lib: $(wc -l < "$want") names, as expected"
