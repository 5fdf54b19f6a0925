#!/bin/sh
# The engine library exports its entry rdl and nothing else.
#   quillcore_exports.sh OBJDUMP Quillcore.dll
set -eu
objdump=$1
dll=$2
[ -f "$dll" ] || { echo "FAIL: no $dll" >&2; exit 1; }
# objdump -p lists the export name table as "[ordinal] name" lines after
# "[Ordinal/Name Pointer] Table".
names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
if [ "$names" != "rdl" ]; then
  echo "FAIL: $dll exports:" >&2
  printf '%s\n' "$names" >&2
  exit 1
fi
echo "$dll exports rdl only"
