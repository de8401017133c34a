#!/usr/bin/env bash
# Checks that a driver library has the shape of a Windows CE stream driver:
#   check-driver.sh DLL DEF OBJECT...
# - a PE DLL (32-bit, or with PE_MAGIC=020b a 64-bit one) whose export table
#   names exactly the EXPORTS of DEF;
# - an import table that names COREDLL.dll and nothing else;
# - no static constructors in its objects: nothing runs them before DllMain.
set -euo pipefail
dll=$1
def=$2
shift 2
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

fail() {
  echo "check-driver: $dll: $*" >&2
  exit 1
}

headers=$("$objdump" -p "$dll")
grep -q "^Magic[[:space:]]*${PE_MAGIC:-010b}" <<<"$headers" || fail "not a PE image of the expected kind (magic ${PE_MAGIC:-010b})"
grep -q 'DLL$' <<<"$headers" || fail "not a DLL"

# The names between "[Ordinal/Name Pointer] Table" and the next blank line.
exported=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}' <<<"$headers" | sort)
expected=$(awk '/^EXPORTS/ {on = 1; next} on && NF > 0 {print $1}' "$def" | sort)
[ -n "$exported" ] || fail "exports nothing"
if [ "$exported" != "$expected" ]; then
  fail "exports differ from $def:
$(diff <(echo "$expected") <(echo "$exported") || true)"
fi

imported=$(awk '/^[[:space:]]*DLL Name:/ {print $3}' <<<"$headers" | sort -u)
[ "$imported" = "COREDLL.dll" ] || fail "imports from ${imported//$'\n'/, } instead of COREDLL.dll alone"

for object in "$@"; do
  if "$objdump" -h "$object" | grep -Eq '[[:space:]]\.(ctors|init_array)'; then
    fail "$(basename "$object") has a static constructor, which no start-up code runs"
  fi
done
echo "check-driver: $(basename "$dll"): exports $(wc -w <<<"$exported") entry points, imports COREDLL.dll alone"
