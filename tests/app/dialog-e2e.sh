#!/usr/bin/env bash
# End-to-end checks of the player's settings dialog under a private Xvfb, driven as a user
# would with xdotool. One part per run:
#   keyboard   the dialog from the keyboard alone (and one mouse click on the scroll bar's
#              track); the main window takes no keys while the dialog is open
#   readonly   a settings.ini that the user made read-only is not replaced: the step-900
#              message and exit status 1 (when root: run as the unprivileged user nobody, and
#              as root)
#   display    a display that drops the first connections is tried again; a display that is
#              not there is reported and the player ends instead of waiting on an unseen dialog
# Usage: dialog-e2e.sh BUILD_DIR PART   (exit status 77: skipped)
set -uo pipefail

build=$1
part=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/xvfb.sh"
begin_player_test "$build"
config=$prog/settings.ini

case $part in
keyboard)
  need_xvfb
  start_player "$tmp/dialog.err" "$prog/glimstep"
  # The main window stays behind the dialog and takes no keys: Esc would end the program and
  # F4 would rename the window.
  find_window 設定 || exit 1
  press "BMS to Tapo Player 2026 Glimstep" Escape F4
  sleep 0.5
  kill -0 "$player" 2>/dev/null || fail "Esc on the main window ended the program behind the open dialog"
  find_window "BMS to Tapo Player 2026 Glimstep" || fail "F4 on the main window renamed it behind the open dialog"
  # The focus starts on the BGA group. Tab past 決定 and 取消 to the display group, Down to
  # "ウインドウ"; on to the Sleep bar (Right: 1 to 2), tick Show Params with Space, Tab round
  # to 決定 and press it with Space.
  press 設定 Tab Tab Tab Down Tab Tab Tab Tab Right Tab space Tab Tab Tab space
  press Glimstep Return
  wait_for_player
  status=$?
  [ "$status" -eq 0 ] || fail "dialog from the keyboard: exit status $status: $(cat "$tmp/dialog.err")"
  grep -q "設定を保存しました。" "$tmp/dialog.err" || fail "dialog from the keyboard: no saved message"
  if [ -f "$config" ]; then
    for pair in Size=0 Color=1 ShowBGA=0 Mode=1 BGAProt=0 PlaySpeed=3 WaitTime=2 ShowParams=1 Hidden=0; do
      key_is "$config" "${pair%%=*}" "${pair#*=}"
    done
  else
    fail "the dialog from the keyboard wrote no $config"
  fi

  # A click on the track beside the thumb moves the bar by the large step (2), not to the click.
  start_player "$tmp/mouse.err" "$prog/glimstep"
  if find_window 設定; then
    xdotool mousemove --window "$window" 150 196 click 1
    sleep 0.3
    press 設定 Return
    press Glimstep Return
  fi
  wait_for_player
  key_is "$config" WaitTime 4
  ;;

readonly)
  need_xvfb
  # Saving over a read-only settings.ini: the user's own run, and as root also root's (which may
  # open any file for writing, but is held to the file's write bits all the same).
  users=(self)
  if [ "$(id -u)" -eq 0 ]; then
    if command -v setpriv >/dev/null && setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>/dev/null; then
      users=(nobody self)
    else
      echo "cannot run as the user nobody; checking root alone" >&2
    fi
  fi
  for user in "${users[@]}"; do
    printf '[Screen]\r\nPlaySpeed=5\r\n' >"$config"
    before=$(cat "$config")
    run=()
    if [ "$user" = nobody ]; then
      chmod 755 "$tmp" "$prog"
      chown nobody:nogroup "$prog" "$config"
      run=(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$tmp")
    else
      chown "$(id -u):$(id -g)" "$prog" "$config"
    fi
    chmod 444 "$config"
    start_player "$tmp/readonly.err" "${run[@]}" "$prog/glimstep"
    press 設定 Down Return
    press Glimstep Return
    wait_for_player
    status=$?
    [ "$status" -eq 1 ] || fail "read-only settings.ini ($user): exit status $status, not 1: $(cat "$tmp/readonly.err")"
    grep -q "ステップ900において異常あり" "$tmp/readonly.err" || fail "read-only settings.ini ($user): no step-900 message: $(cat "$tmp/readonly.err")"
    grep -q "設定を保存しました。" "$tmp/readonly.err" && fail "read-only settings.ini ($user): reported as saved"
    [ "$(cat "$config")" = "$before" ] || fail "read-only settings.ini ($user) was replaced: $(cat "$config")"
    [ "$(stat -c %a "$config")" = 444 ] || fail "read-only settings.ini ($user): mode $(stat -c %a "$config")"
    leftovers=$(find "$prog" -name '.settings.ini*')
    [ -z "$leftovers" ] || fail "temporary files left behind ($user): $leftovers"
    rm -f "$config"
  done
  ;;

display)
  need_xvfb
  # The first two connections come up headless, as when the server drops them; the third one
  # reaches the display and the dialog shows.
  GLIMSTEP_TEST_DISPLAY_DROPS=2 start_player "$tmp/drops.err" "$prog/glimstep"
  press 設定 Escape
  wait_for_player
  status=$?
  [ "$status" -eq 0 ] || fail "after dropped connections: exit status $status: $(cat "$tmp/drops.err")"
  grep -q "cannot open display" "$tmp/drops.err" && fail "after two dropped connections: $(cat "$tmp/drops.err")"
  # Every connection dropped: reported, and the player goes on without the display.
  GLIMSTEP_TEST_DISPLAY_DROPS=5 start_player "$tmp/alldrops.err" "$prog/glimstep"
  wait_for_player
  status=$?
  [ "$status" -eq 0 ] || fail "with every connection dropped: exit status $status (124: it hung): $(cat "$tmp/alldrops.err")"
  grep -q "cannot open display" "$tmp/alldrops.err" || fail "with every connection dropped: not reported: $(cat "$tmp/alldrops.err")"

  # A display that is not there: reported, and the dialog ends as cancelled instead of waiting.
  # (Not the number of the Xvfb above: the next test's Xvfb may take that one.)
  DISPLAY=:4711 start_player "$tmp/none.err" "$prog/glimstep"
  wait_for_player
  status=$?
  [ "$status" -eq 0 ] || fail "without the display: exit status $status (124: it hung): $(cat "$tmp/none.err")"
  grep -q "cannot open display" "$tmp/none.err" || fail "without the display: not reported: $(cat "$tmp/none.err")"
  grep -q "settings dialog on; cancelled" "$tmp/none.err" || fail "without the display: the dialog did not end: $(cat "$tmp/none.err")"
  [ -e "$config" ] && fail "without the display: settings written"
  ;;

quit)
  need_xvfb
  # SIGTERM in the settings dialog: the run ends killed by it at once, and saves nothing.
  start_player "$tmp/dialog.err" "$prog/glimstep"
  if find_window 設定; then
    kill -TERM "$player"
    wait_for_player 3
    status=$?
    [ "$status" -eq 143 ] || fail "SIGTERM in the dialog: exit status $status, not 143: $(cat "$tmp/dialog.err")"
    [ -e "$config" ] && fail "SIGTERM in the dialog: settings written"
  fi
  # ... and in a message box.
  echo >"$tmp/notes.txt"
  start_player "$tmp/box.err" "$prog/glimstep" "$tmp/notes.txt"
  if find_window Glimstep; then
    kill -TERM "$player"
    wait_for_player 3
    status=$?
    [ "$status" -eq 143 ] || fail "SIGTERM in a message box: exit status $status, not 143: $(cat "$tmp/box.err")"
  fi
  # A chart whose eight sounds take minutes to decode (a minute of mu-law each, made slow by the
  # test seam): Esc ends it in the middle of the load (signals there: tests/tools/QuitTest.cpp).
  le() { local v=$1 n=$2 i; for ((i = 0; i < n; i++)); do printf "\\$(printf %03o $(((v >> (8 * i)) & 255)))"; done; }
  {
    printf 'RIFF'; le $((38 + 480000)) 4; printf 'WAVEfmt '; le 18 4
    le 7 2; le 1 2; le 8000 4; le 8000 4; le 1 2; le 8 2; le 0 2
    printf 'data'; le 480000 4
    head -c 480000 /dev/zero | tr '\0' '\125'
  } >"$tmp/long.wav"
  chart=$tmp/long.bms
  { echo "#BPM 120"; for slot in 1 2 3 4 5 6 7 8; do echo "#WAV0$slot long.wav"; done; echo "#00111:0102030405060708"; } >"$chart"
  GLIMSTEP_TEST_DECODE_CHUNK_MS=500 start_player "$tmp/esc.err" "$prog/glimstep" "$chart"
  if press "BMS to Tapo Player 2026 Glimstep" Escape; then
    wait_for_player 3
    status=$?
    [ "$status" -eq 0 ] || fail "Esc while loading: exit status $status, not 0 (124: it went on): $(cat "$tmp/esc.err")"
  fi
  ;;

*)
  echo "unknown part $part" >&2
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "dialog $part OK"
