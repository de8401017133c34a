#!/usr/bin/env bash
# The runner as a user starts it: a prefix made in a new folder, then a
# capture replayed through Wine's COM port; the run ends by itself and names
# a track with records in it.
set -euo pipefail
source_dir=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
runner="$source_dir/tools/wine/wendra-on-wine"
"$runner" install --root "$root"
said=$("$runner" run --root "$root" --gps "replay:$source_dir/tests/data/drive-tokyo.nmea@4" --seconds 20 2>&1)
echo "$said"
track=$(sed -n 's/^track file: \(.*\) (\([0-9]*\) records)$/\1/p' <<< "$said")
records=$(sed -n 's/^track file: .* (\([0-9]*\) records)$/\1/p' <<< "$said")
[ -n "$track" ] || { echo "no track file named"; exit 1; }
[ "$records" -gt 0 ] || { echo "no records in $track"; exit 1; }
# The count the runner gives is the file's own: one line a record.
[ "$(wc -l < "$track")" -eq "$records" ] || { echo "$track has $(wc -l < "$track") lines"; exit 1; }
