#!/usr/bin/env bash
# Full screen on an X server without a window manager: the whole 320x240 play screen fills the
# screen, scaled by the largest whole multiple and centred between black bars.
# Usage: fullscreen-e2e.sh BUILD_DIR WIDTHxHEIGHT   (exit status 77: skipped)
set -uo pipefail

build=$1
screen=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/xvfb.sh"
# No settings.ini beside the player: the default full screen (Mode=0).
begin_player_test "$build"

# No pictures: the backdrop is (R, 0, 255) everywhere, so the only green on the screen is the
# grey receptor row of player 1 (x 8 to 134, y 32 to 62 of the picture) until the one note, far
# on, scrolls up.
printf '#PLAYER 1\r\n#BPM 240\r\n#05011:01\r\n' >"$tmp/full.bms"

need_xvfb "${screen}x24"
width=${screen%x*}
height=${screen#*x}
scale=$((width / 320 < height / 240 ? width / 320 : height / 240))
left=$(((width - 320 * scale) / 2))
top=$(((height - 240 * scale) / 2))
# Offsets count from 1: the screenshot gets a black border so that a picture filling the whole
# screen is boxed too.
picture="$((320 * scale))x$((240 * scale))+$((left + 1))+$((top + 1))"
receptors="$((126 * scale))x$((30 * scale))+$((left + 8 * scale + 1))+$((top + 32 * scale + 1))"

# The box of the screen's pixels above half level in one channel.
box() {
  convert "$tmp/shot.png" -channel "$1" -separate -threshold 50% -bordercolor black -border 1 -format '%@' info: 2>/dev/null
}

start_player "$tmp/player.err" "$prog/glimstep" "$tmp/full.bms"
seen_picture="" seen_receptors=""
for ((i = 0; i < 100; i++)); do
  if ! kill -0 "$player" 2>/dev/null; then
    fail "the player ended: $(cat "$tmp/player.err")"
    break
  fi
  if import -window root "$tmp/shot.png" 2>/dev/null; then
    seen_picture=$(box B)
    seen_receptors=$(box G)
    [ "$seen_picture" = "$picture" ] && [ "$seen_receptors" = "$receptors" ] && break
  fi
  sleep 0.2
done
if [ "$seen_picture" != "$picture" ] || [ "$seen_receptors" != "$receptors" ]; then
  fail "on a ${screen} screen the picture should be at $picture and the receptor row at $receptors;" \
    "the last screenshot had them at ${seen_picture:-nothing} and ${seen_receptors:-nothing}"
fi
[ $failures -eq 0 ]
