#!/usr/bin/env bash
# qrscan.exe acquires through Wine's TWAIN source manager from the installed source, in both transfer
# modes, in colour and grey, at every image size; ImageMagick must read each saved file with that
# size and type. Also: what qrscan says and returns without a camera, for a size the source lacks
# and for a usage error. Like the other registry tests, it starts from and leaves no product key.
#   qrscan_test.sh WINDOWS_PATH BIN_DIR
set -uo pipefail
export QR_WINDOWS_PATH=$1
bin=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../scripts/wine-env"
"$here/../../scripts/twain-install" >/dev/null || exit 1
work=$(mktemp -d)
product='HKLM\Software\Orvane Imaging'
clean() {
  "$QR_WINE" "$bin/qrvcamctl.exe" reset >/dev/null 2>&1
  "$QR_WINE" reg delete "$product" /f >/dev/null 2>&1
  rm -rf "$work"
}
trap clean EXIT
clean
mkdir -p "$work"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
scan() { "$QR_WINE" "$bin/qrscan.exe" "$@" 2>"$work/stderr" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

provider=$("$QR_WINE" winepath -w "$bin/qrvcam.dll" | tr -d '\r')
"$QR_WINE" reg add "$product" /v "Camera Device Provider" /t REG_SZ /d "$provider" /f >/dev/null

# Without a camera the source opens and reports it; qrscan says so and fails.
out=$(scan acquire "$work/none.bmp"); rc=$?
[ "$rc" = 1 ] || fail "no camera: exit $rc"
grep -q "found no camera" "$work/stderr" || fail "no camera: $(cat "$work/stderr")"
[ ! -e "$work/none.bmp" ] || fail "no camera: a file was written"

"$QR_WINE" "$bin/qrvcamctl.exe" plug 0 usb id=0x0403 serial=SCAN-TEST >/dev/null
out=$(scan list)
grep -q "^Quorel Twain Driver 6.9.1.49	" <<<"$out" || fail "list: $out"

for size in 640x480 320x240 160x120 352x288 176x144 1280x960; do
  for type in colour grey; do
    for mode in native memory; do
      file="$work/$size-$type-$mode.bmp"
      out=$(scan acquire -t "$type" -z "$size" -m "$mode" "$file"); rc=$?
      if [ "$rc" != 0 ]; then fail "$size $type $mode: exit $rc: $(cat "$work/stderr")"; continue; fi
      want="$size $([ "$type" = colour ] && echo TrueColor || echo Grayscale)"
      got=$(identify -format '%wx%h %[type]' "$file" 2>&1)
      [ "$got" = "$want" ] || fail "$size $type $mode: ImageMagick sees '$got', not '$want'"
    done
  done
done
# Memory strips of a chosen size: progress reaches the last row.
out=$(scan acquire -m memory -b 19200 "$work/strips.bmp") || fail "strips: $(cat "$work/stderr")"
grep -q "480 of 480 rows" "$work/stderr" || fail "strips: no progress to the last row"

# Through the source's own panel: qrscan waits in its message loop until ACQUIRE is pressed.
scan acquire --ui -z 320x240 "$work/panel.bmp" >"$work/panel.out" &
scanner=$!
"$QR_WINE" "$bin/qrclick.exe" "Digital Camera Twain Control Panel" 102 || fail "panel: no panel to press ACQUIRE on"
wait "$scanner" || fail "panel: qrscan failed: $(cat "$work/stderr")"
got=$(identify -format '%wx%h %[type]' "$work/panel.bmp" 2>&1)
[ "$got" = "320x240 TrueColor" ] || fail "panel: ImageMagick sees '$got'"

out=$(scan acquire -z 800x600 "$work/odd.bmp"); rc=$?
[ "$rc" = 1 ] && grep -q "has no 800 x 600 images" "$work/stderr" || fail "800x600: exit $rc: $(cat "$work/stderr")"
out=$(scan acquire -m film "$work/bad.bmp"); rc=$?
[ "$rc" = 2 ] && grep -q "^usage:" "$work/stderr" || fail "usage error: exit $rc"

[ "$failures" = 0 ] && echo "qrscan: every acquisition read back as expected" || exit 1
