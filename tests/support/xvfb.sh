# Helpers for end-to-end tests that run the player under a private Xvfb; source this file.
# The caller defines `tmp` (a scratch folder) and `fail MESSAGE`, or has begin_player_test define
# them; the helpers keep the player's process id in `player` and its standard error in
# `player_err`.

player=""
player_err=""
xvfb_pid=""

# The start of a test of the player from build folder $1: a scratch folder `tmp`, removed at
# the end with the player and the server; `fail MESSAGE`, counted in `failures`; the player alone
# in a folder of its own, `prog`, so that settings.ini is written beside it; no sound device.
begin_player_test() {
  tmp=$(mktemp -d)
  failures=0
  trap end_player_test EXIT
  trap 'exit 1' INT TERM
  prog=$tmp/prog
  mkdir -p "$prog"
  cp "$1/glimstep" "$prog/glimstep"
  export SDL_AUDIODRIVER=dummy
  unset SDL_VIDEODRIVER WAYLAND_DISPLAY
}

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

end_player_test() {
  [ -n "$player" ] && kill "$player" 2>/dev/null
  stop_xvfb
  rm -rf "$tmp"
}

# Starts Xvfb on a free display (its screen 800x600x24, or as $1 gives it) and exports DISPLAY;
# returns 1 when it does not start. The server must not reset when its last client leaves: a
# player connecting during a reset has its connection dropped.
start_xvfb() {
  local i
  Xvfb -displayfd 3 -noreset -screen 0 "${1:-800x600x24}" -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
  xvfb_pid=$!
  for ((i = 0; i < 100; i++)); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
  done
  [ -s "$tmp/display" ] || return 1
  export DISPLAY=:$(head -n1 "$tmp/display")
}

# start_xvfb, or the end of the script as skipped (exit status 77) when Xvfb does not start.
need_xvfb() {
  if ! start_xvfb "$@"; then
    echo "SKIP: Xvfb did not start: $(cat "$tmp/xvfb.log")" >&2
    exit 77
  fi
}

stop_xvfb() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}

# Starts the player in the background: start_player ERRFILE COMMAND [ARGS...]
start_player() {
  player_err=$1
  shift
  "$@" 2>"$player_err" &
  player=$!
}

# Waits up to $1 seconds (default 60) for the player to end; its exit status, or 124 when it
# had to be killed.
wait_for_player() {
  local i status=124 limit=${1:-60}
  for ((i = 0; i < limit * 10; i++)); do
    if ! kill -0 "$player" 2>/dev/null; then
      wait "$player"
      status=$?
      break
    fi
    sleep 0.1
  done
  if [ "$status" -eq 124 ]; then
    kill "$player" 2>/dev/null
    wait "$player" 2>/dev/null
  fi
  player=""
  return "$status"
}

# Sets `window` to the id of the player's visible window titled $1 once it is there (its own
# window: SDL marks its windows with its process id). Fails at once, with the player's stderr,
# when the player ends or runs without a display instead. (xdotool's own name search does not
# match non-ASCII titles, so titles are compared here.)
find_window() {
  local w i
  window=""
  for ((i = 0; i < 300; i++)); do
    for w in $(xdotool search --onlyvisible --pid "$player" 2>/dev/null); do
      if [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ]; then
        window=$w
        return 0
      fi
    done
    if grep -q "cannot open display" "$player_err" 2>/dev/null; then
      fail "the player has no display, waiting for '$1': $(cat "$player_err")"
      return 1
    fi
    if [ -n "$player" ] && ! kill -0 "$player" 2>/dev/null; then
      fail "the player ended without showing '$1': $(cat "$player_err")"
      return 1
    fi
    sleep 0.1
  done
  fail "no window '$1' appeared; the player's windows: $(for w in $(xdotool search --classname glimstep 2>/dev/null); do
    printf '%s "%s" ' "$w" "$(xdotool getwindowname "$w" 2>/dev/null)"; done); stderr: $(cat "$player_err")"
  return 1
}

# Focuses the player's window titled $1 and types the keys that follow, one by one.
press() {
  local title=$1 key
  shift
  find_window "$title" || return 1
  xdotool windowfocus "$window" 2>/dev/null
  sleep 0.3
  for key in "$@"; do
    xdotool key "$key"
    sleep 0.05
  done
}

# Checks that the ini file $1 holds $2=$3.
key_is() {
  grep -qx "$2=$3"$'\r\\?' "$1" || fail "$1: $2 is not $3: $(grep "^$2=" "$1" | tr -d '\r')"
}
