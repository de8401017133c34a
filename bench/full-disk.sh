#!/usr/bin/env bash
# The whole device on a disk that fills up: a small tmpfs (root only) holds
# the device; Wendra logs the built-in receiver a record a second until a
# file fills the disk (the track's last page still takes records for a
# minute or so). Then Wendra's write fails and it stops logging, the
# track holds whole records only, the device goes on serving, a registry
# change is refused and the registry file stays whole, and Wendra stays up
# until it is asked to end. Needs the default build.
set -euo pipefail
cd "$(dirname "$0")/.."
cedevice=$PWD/build/default/tools/cedevice/cedevice
[ "$(id -u)" -eq 0 ] || { echo "full-disk: mounting a tmpfs needs root"; exit 2; }

work=$(mktemp -d)
disk=$work/disk
mkdir -p "$disk"
mount -t tmpfs -o size=2m,mode=0700 tmpfs "$disk"
run=""
cleanup() {
  [ -n "$run" ] && kill -INT "$run" 2>/dev/null && wait "$run" 2>/dev/null || true
  umount -l "$disk" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failed=0
check() {  # check DESCRIPTION COMMAND...: one line, PASS or FAIL
  if "${@:2}"; then echo "PASS  $1"; else echo "FAIL  $1"; failed=1; fi
}

root=$disk/device
"$cedevice" install --root "$root" > /dev/null
printf 'autostart=1\ninterval=1\nanytalker=1\nsignedpos=1\n' > "$root/Program Files/Wendra/Wendra.cfg"
CE_UI_TRACE=$work/trace.jsonl "$cedevice" run --root "$root" --gps sim:nofix=0 --ui headless --seconds 300 \
  > "$work/run.out" 2>&1 &
run=$!

track() { ls "$root/Program Files/Wendra/"2*.txt 2>/dev/null | head -1; }
records() { local t; t=$(track); if [ -n "$t" ]; then grep -c $'\r$' "$t" || true; else echo 0; fi; }
# Every line a whole record: the layout, then CR LF, and nothing after the last.
whole_records() {
  local t; t=$(track)
  ! tr -d '\r' < "$t" | grep -qvE '^20[0-9]{2}-[0-9]{2}-[0-9]{2},[0-9:]{8}(,-?[0-9]+\.[0-9]+){3},[0-9]+\.[0-9]$' &&
    [ "$(grep -c $'\r$' "$t")" -eq "$(wc -l < "$t")" ] && [ -z "$(tail -c 1 "$t" | tr -d '\n')" ]
}
serves() { "$cedevice" reg query --root "$root" 'HKLM\Drivers\BuiltIn\Ravelink' > /dev/null; }
refused() { ! "$cedevice" reg add --root "$root" 'HKLM\Software\Full' /v note /d "$(head -c 3000 /dev/zero | tr '\0' x)" 2> /dev/null; }
for _ in $(seq 60); do [ "$(records)" -ge 3 ] && break; sleep 1; done
check "Wendra logs on the empty disk ($(records) records)" test "$(records)" -ge 3

# Fill the disk to its last byte.
dd if=/dev/zero of="$disk/filler" bs=4k status=none 2>/dev/null || true
registry_before=$(cat "$root/registry.reg")
stopped() { grep -q '"id":1000,"text":"ログ書込不可"' "$work/trace.jsonl"; }
for _ in $(seq 150); do stopped && break; sleep 1; done
check "a write fails and Wendra stops logging ($(records) records)" stopped
before=$(records)
sleep 3
wendra=$(pgrep -f "^$root/Program Files/Wendra/Wendra" || true)

check "the track holds whole records only" whole_records
check "no record is written after the stop" test "$(records)" -eq "$before"
check "Wendra stays up" test -n "$wendra"
check "the device serves: a key is read" serves
check "a registry change that cannot be saved is refused" refused
check "the registry file is the last whole one" test "$registry_before" = "$(cat "$root/registry.reg")"

# Room again: the registry saves, and Wendra ends through its Exit.
rm -f "$disk/filler"
saved() { "$cedevice" reg add --root "$root" 'HKLM\Software\Full' /v note /d saved > /dev/null; }
check "with room again, a change is saved" saved
kill -INT "$run"
check "Wendra and the device end when asked" wait "$run"
run=""
exit $failed
