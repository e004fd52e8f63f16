# The desk on an X server of its own (Xvfb) with a window manager, started on the sample
# database in an empty folder, with the helpers a clerk's script types with. Sourced by the
# scripts that drive it:  source x11_desk.sh KVTFIELDS_DESK KVTFIELDS
# Each key sent is counted in $keystrokes (a chord is one; typed text one per character).
desk=$(realpath "$1")
cli=$(realpath "$2")
for tool in Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and writes it to fd 3.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
# A window mapped while the window manager is still starting can be lost by it and never
# appear: the program starts once the manager answers for its desktops.
for _ in $(seq 100); do xdotool get_num_desktops >/dev/null 2>&1 && break; sleep 0.1; done

cd "$work"
# A first start: no settings of an earlier session (the database used last) are read.
export XDG_CONFIG_HOME="$work/config"
db=kvtfields-demo.kvtdb  # the sample, made by the program on its first start
"$desk" >"$work/desk.log" 2>&1 &
desk_pid=$!
pids+=($desk_pid)

fail() {
  echo "FAILED: $*" >&2
  echo "(display $DISPLAY; windows:$(for w in $(xdotool search --name . 2>/dev/null); do
    printf " '%s'" "$(xdotool getwindowname "$w" 2>/dev/null)"; done); program running: $(
    kill -0 "$desk_pid" 2>/dev/null && echo yes || echo no))" >&2
  echo "--- desk output" >&2
  cat "$work/desk.log" >&2
  exit 1
}
title() { xdotool getactivewindow getwindowname 2>/dev/null || true; }
# Waits until the active window's title matches (a regular expression).
expect_title() {
  for _ in $(seq "${3:-200}"); do
    [[ "$(title)" =~ $1 ]] && return 0
    sleep 0.1
  done
  fail "the active window is '$(title)', expected /$1/ ($2)"
}
keystrokes=0
type_text() {
  xdotool type --delay 40 "$1"
  keystrokes=$((keystrokes + ${#1}))
}
keys() {
  xdotool key --delay 60 "$@"
  keystrokes=$((keystrokes + $#))
}
stored() { "$cli" documents export --db "$db" --archive Fatture; }
count() { stored | grep -c '^[0-9]' || true; }

main='Fatture - Inserimento'
box='^kvtfields$'
# The window manager may still be starting when the window appears: find it, then give it the
# focus as a click on it would.
window=
for _ in $(seq 600); do
  window=$(xdotool search --onlyvisible --name "^$main" 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "the desk's window did not appear"
for _ in $(seq 50); do
  [[ "$(title)" =~ ^$main ]] && break
  xdotool windowactivate "$window" 2>/dev/null || true
  sleep 0.2
done
expect_title "^$main" "the desk starts on the entry form"
