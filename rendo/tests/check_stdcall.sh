#!/bin/sh
# The 32-bit DLL's table slots and CreateInstance use __stdcall: the compiler names each
# such function NAME@N (N bytes of arguments, the interface pointer included), and every
# return in its code must be "ret $N", the callee removing its arguments. Functions with
# identical code share one address (and one label in the disassembly), so the names are
# taken from the symbol table and the code from the disassembly, by address. Thunks (the
# this-adjusting entries of the secondary interfaces) only jump into the method.
#   check_stdcall.sh NM OBJDUMP DLL
set -eu
symbols=$("$1" "$3" | awk '$2 == "T" && $3 ~ /^(__ZN12TPixelEngine.*|_CreateInstance)@[0-9]+$/ {
  n = $3; sub(/.*@/, "", n); print $1, n, $3 }')
count=$(echo "$symbols" | grep -c .)
[ "$count" -ge 78 ] || { echo "only $count stdcall functions found"; exit 1; }
{ echo "$symbols"; echo "--"; "$2" -d --no-show-raw-insn "$3"; } | awk '
  function hex(s,   v, i) { v = 0; for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return v }
  function finish() { if (addr != "" && rets + jumps == 0) { print names[addr] ": no return"; bad++ } }
  !code && $0 == "--" { code = 1; next }
  !code { want[$1] = $2; names[$1] = $3; next }
  /^[0-9a-f]+ <.*>:$/ { finish(); addr = ($1 in want) ? $1 : ""; rets = jumps = 0; if (addr != "") seen++; next }
  addr != "" && /\tret/ {
    rets++
    n = $0; sub(/.*ret +/, "", n)
    if (n !~ /^\$0x[0-9a-f]+$/ || hex(substr(n, 4)) != want[addr] + 0) { print names[addr] ": " $0; bad++ }
  }
  addr != "" && /\tjmp/ { jumps++ }
  END { finish(); if (bad) exit 1; print seen " stdcall function bodies return with ret $N" }'
