#!/usr/bin/env bash
# Runs the installed player as a new user would: from another folder, with a fresh home folder
# and a program folder that it cannot write to. The settings dialog (confirmed and cancelled
# with the keyboard under Xvfb) must use ~/.config/glimstep/settings.ini, or
# $XDG_CONFIG_HOME/glimstep/settings.ini, and never write beside the program; a chart in a folder
# of its own must play to its end.
# Usage: installed-program.sh BUILD_DIR   (exit status 77: skipped)
set -uo pipefail

build=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
bin=$tmp/root/usr/local/bin
source "$here/../support/xvfb.sh"
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null
  stop_xvfb
  chattr -i "$bin" 2>/dev/null
  chmod -R u+w "$tmp" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! DESTDIR=$tmp/root cmake --install "$build" --prefix /usr/local >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log" >&2
  exit 1
fi

# Root writes everywhere, even into a folder without write permission; an immutable folder
# refuses it too.
if [ "$(id -u)" -eq 0 ]; then chattr +i "$bin" 2>/dev/null; else chmod a-w "$bin"; fi
if touch "$bin/.probe" 2>/dev/null; then
  echo "SKIP: cannot make $bin read-only" >&2
  exit 77
fi

mkdir -p "$tmp/elsewhere" "$tmp/home"
cd "$tmp/elsewhere" || exit 1
export HOME=$tmp/home SDL_AUDIODRIVER=dummy
unset XDG_CONFIG_HOME
config=$HOME/.config/glimstep/settings.ini

# A name that is not a chart is refused with the player's message and status 1.
SDL_VIDEODRIVER=dummy start_player "$tmp/refused.err" "$bin/glimstep" song.txt
wait_for_player
status=$?
[ "$status" -eq 1 ] || fail "song.txt: exit status $status, not 1"
grep -q "BMSファイルをドロップしてね（汗）" "$tmp/refused.err" || fail "song.txt: no refusal message: $(cat "$tmp/refused.err")"

# The settings dialog under a virtual display, answered from the keyboard.
if ! start_xvfb; then
  echo "SKIP: Xvfb did not start: $(cat "$tmp/xvfb.log")" >&2
  exit 77
fi

# Runs the player without a chart and answers the dialog with key $1 (Return saves, Escape
# cancels); after saving, confirms the message box. Sets $status and leaves stderr in
# $tmp/dialog.err.
run_dialog() {
  start_player "$tmp/dialog.err" env -u SDL_VIDEODRIVER "$bin/glimstep"
  press 設定 "$1"
  [ "$1" = Return ] && press Glimstep Return
  wait_for_player
  status=$?
}

# A new user confirms the dialog: the defaults go to ~/.config/glimstep/settings.ini.
run_dialog Return
[ "$status" -eq 0 ] || fail "confirmed dialog: exit status $status, not 0: $(cat "$tmp/dialog.err")"
grep -q "設定を保存しました。" "$tmp/dialog.err" || fail "confirmed dialog: no saved message"
if [ -f "$config" ]; then
  grep -qx $'\\[Screen\\]\r\\?' "$config" || fail "no [Screen] section in $config"
  for pair in Size=0 Color=1 ShowBGA=0 Mode=0 BGAProt=0 PlaySpeed=3 WaitTime=1 ShowParams=0 Hidden=0; do
    key_is "$config" "${pair%%=*}" "${pair#*=}"
  done
else
  fail "confirmed dialog did not write $config"
fi

# Settings already there are read from that file and written back there.
mkdir -p "$(dirname "$config")"
printf '[Screen]\r\nPlaySpeed=5\r\nWaitTime=7\r\nHidden=1\r\n[Other]\r\nKeep=me\r\n' >"$config"
run_dialog Return
[ "$status" -eq 0 ] || fail "second confirmed dialog: exit status $status"
key_is "$config" PlaySpeed 5
key_is "$config" WaitTime 7
key_is "$config" Hidden 1
key_is "$config" Mode 0
key_is "$config" Keep me

# XDG_CONFIG_HOME moves the file; a cancelled dialog writes nothing and shows no message.
export XDG_CONFIG_HOME=$tmp/xdg
run_dialog Escape
[ "$status" -eq 0 ] || fail "cancelled dialog: exit status $status, not 0"
grep -q "設定を保存しました。" "$tmp/dialog.err" && fail "cancelled dialog showed the saved message"
[ -e "$XDG_CONFIG_HOME/glimstep/settings.ini" ] && fail "cancelled dialog wrote a settings file"
run_dialog Return
[ "$status" -eq 0 ] || fail "dialog with XDG_CONFIG_HOME: exit status $status"
[ -f "$XDG_CONFIG_HOME/glimstep/settings.ini" ] || fail "dialog with XDG_CONFIG_HOME did not write there"
unset XDG_CONFIG_HOME

# A chart in a folder of its own, opened by its full path the way a file manager does, plays
# to its end; its click reaches the sound output.
chart_dir="$tmp/charts/My Song"
mkdir -p "$chart_dir"
{
  printf 'RIFF\xc4\x0f\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00'
  printf 'data\xa0\x0f\x00\x00'
  for ((i = 0; i < 20; i++)); do
    printf '\x00\x40%.0s' {1..50}
    printf '\x00\xc0%.0s' {1..50}
  done
} >"$chart_dir/click.wav"
printf '#TITLE Installed\r\n#BPM 240\r\n#WAV01 click.wav\r\n#00111:01\r\n#00213:0101\r\n' >"$chart_dir/Song.BMS"
printf '[Screen]\r\nMode=1\r\n' >"$config"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$tmp/sound.raw \
  start_player "$tmp/play.err" "$bin/glimstep" "$chart_dir/Song.BMS"
wait_for_player
status=$?
[ "$status" -eq 0 ] || fail "playing the chart: exit status $status: $(cat "$tmp/play.err")"
# SDL's disk driver announces itself; anything else is a message of the player.
messages=$(grep -v -e "SDL disk i/o audio driver" -e "Writing to file" "$tmp/play.err")
[ -z "$messages" ] || fail "playing the chart wrote messages: $messages"
if [ -f "$tmp/sound.raw" ]; then
  [ "$(tr -d '\0' <"$tmp/sound.raw" | head -c 1000 | wc -c)" -gt 0 ] || fail "the chart played silence"
else
  fail "the chart made no sound output"
fi

# The installed programs find their modules: a mu-law WAV (libsndfile) and a MIDI backing track
# (FluidSynth) load without a word (a module not found is named on stderr).
{
  printf 'RIFF\xf6\x07\x00\x00WAVEfmt \x12\x00\x00\x00\x07\x00\x01\x00\x44\xac\x00\x00\x44\xac\x00\x00\x01\x00\x08\x00\x00\x00'
  printf 'data\xd0\x07\x00\x00'
  for ((i = 0; i < 20; i++)); do
    printf '\x90%.0s' {1..50}
    printf '\x10%.0s' {1..50}
  done
} >"$chart_dir/mulaw.wav"
printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x0c\x00\x90\x3c\x40\x60\x80\x3c\x00\x00\xff\x2f\x00' \
  >"$chart_dir/back.mid"
printf '#BPM 240\r\n#MIDIFILE back.mid\r\n#WAV02 mulaw.wav\r\n#00111:02\r\n' >"$chart_dir/Modules.bms"
"$bin/glimstep-info" "$chart_dir/Modules.bms" >/dev/null 2>"$tmp/info.err" || fail "the installed glimstep-info failed"
[ -s "$tmp/info.err" ] && fail "the installed glimstep-info wrote messages: $(cat "$tmp/info.err")"

leftovers=$(find "$tmp/root" "$tmp/elsewhere" "$chart_dir" -name 'settings.ini*')
[ -z "$leftovers" ] || fail "settings written outside the configuration folder: $leftovers"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed program OK"
