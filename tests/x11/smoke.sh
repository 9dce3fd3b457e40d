#!/usr/bin/env bash
# Smoke test of the window program on a real X server: a private Xvfb with
# openbox, driven through xdotool by key presses, clicks and typing as a user
# would. After every step the program must still run and the windows the step
# expects must be mapped (found by caption); a screenshot of each step goes to
# BUILD_DIR/screenshots/x11/.
#   tests/x11/smoke.sh BUILD_DIR
# HOME, the XDG folders, the settings and the database are temporary: the
# user's files are never read or written.
#
# Clicks land at offsets measured on today's layouts (from the window's left,
# top, right or bottom edge as the control is anchored). When a layout moves a
# control, the step that clicks it fails by name; its screenshot shows where.
set -uo pipefail

build=$(cd "${1:?usage: smoke.sh BUILD_DIR}" && pwd) || exit 1
program=$build/bin/corvina
cli=$build/bin/corvina-cli
shots=$build/screenshots/x11
step=set-up
shot_number=0
pids=()

tmp=$(mktemp -d /tmp/corvina-x11-data.XXXXXX) || exit 1

cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "X11 smoke test interrupted at step $step" >&2; exit 1' INT TERM HUP

fail() {
  echo "X11 smoke test FAILED at step '$step': $*" >&2
  shot "FAILED" 2>/dev/null
  echo "--- mapped windows:" >&2
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    echo "  $(xdotool getwindowname "$w")" >&2
  done
  echo "--- program output:" >&2
  cat "$tmp/program.log" >&2 2>/dev/null
  exit 1
}

shot() {
  shot_number=$((shot_number + 1))
  import -window root "$(printf '%s/%02d-%s%s.png' "$shots" "$shot_number" "$step" "${1:+-$1}")"
}

# alive [PID]: the process (the program by default) runs.
alive() {
  local state
  state=$(cut -d' ' -f3 "/proc/${1:-$app}/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}

# Retries a command until it succeeds: X and the program answer
# asynchronously, and a loaded machine may take many seconds (beside the
# other tests and two busy loops a step once took over 20). Fails the step,
# naming what it waited for, after a minute (only a hung step takes that
# long) or as soon as the program has ended.
poll() {
  local what=$1 deadline=$((SECONDS + 60))
  shift
  until "$@"; do
    [ -n "${app:-}" ] && ! alive && fail "the program ended while waiting for: $what"
    ((SECONDS < deadline)) || fail "timed out waiting for: $what"
    sleep 0.1
  done
}

mapped() { [ -n "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)" ]; }
gone() { ! mapped "$1"; }

# find_window TITLE: $win is the mapped window of that caption.
find_window() {
  poll "window '$1' mapped" mapped "$1"
  win=$(xdotool search --onlyvisible --name "^$1\$" | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$win")"  # WIDTH and HEIGHT
}

# A window the window manager has not taken over yet ignores the request:
# it is asked again until it has the keyboard.
active() {
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$win" ] && return
  xdotool windowactivate "$win" 2>/dev/null
  return 1
}

# focus TITLE: as find_window, and the window has the keyboard.
focus() {
  find_window "$1"
  poll "window '$1' active" active
}

click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }

# expect STEP 'mapped caption'... [-- 'absent caption'...]: starts a step,
# whose actions follow; check checks it.
expect() {
  step=$1
  shift
  expected=("$@")
}

check() {
  local t want=mapped
  for t in "${expected[@]}"; do
    if [ "$t" = -- ]; then want=gone; continue; fi
    poll "window '$t' $want" "$want" "$t"
  done
  alive || fail "the program has ended"
  shot
}

snapshot_count() { [ "$("$cli" list --db "$db" --path "$tree" 2>/dev/null | grep -c "$1")" = "$2" ]; }

# Types the description and the path, then presses "Take Snapshot", the next
# control after the path in the tab order.
take_snapshot() {
  focus "Take Disk Snapshot"
  click $((WIDTH * 3 / 4)) 78  # the description, under its label
  xdotool key ctrl+a type --delay 10 "$1"
  click $((WIDTH / 4)) $((HEIGHT - 40))  # the path, above the status bar
  xdotool key ctrl+a type --delay 10 "$tree"
  xdotool key Tab space
  poll "snapshot '$1' in the database" snapshot_count "$1" 1
}

# path_is TEXT: the path to be snapshotted reads TEXT (copied from its box
# through the clipboard).
path_is() {
  focus "Take Disk Snapshot"
  click $((WIDTH / 4)) $((HEIGHT - 40))  # the path, above the status bar
  xdotool key ctrl+a ctrl+c
  copied() { [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]; }
  poll "the path to read '$1'" copied "$1"
}

# Clicks the first base path, then the first (newest) snapshot listed.
choose_newest() {
  focus "Select Snapshot"
  click 59 77
  click $((WIDTH * 55 / 100)) 100
}

start_program() {
  "$program" >>"$tmp/program.log" 2>&1 &
  app=$!
  pids+=("$app")
}

# Waits for the program's end. It is no longer "the program" meanwhile:
# poll would take an end that comes between its checks for a failure.
end_program() {
  local ending=$app
  app=
  ended() { ! alive "$ending"; }
  poll "the program to end" ended
  wait "$ending"
  local status=$?
  [ "$status" = 0 ] || fail "the program ended with status $status"
}

for tool in Xvfb openbox xdotool xprop import xclip; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
[ -x "$program" ] && [ -x "$cli" ] || fail "build $program and $cli first"
mkdir -p "$shots" && rm -f "$shots"/*.png

# The program must meet a real X server, whatever ctest's environment says.
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_FONT_DPI
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_DATA_HOME=$tmp/home/.local/share
export XDG_CACHE_HOME=$tmp/home/.cache XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$XDG_CONFIG_HOME/Corvina" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$tmp/db" && mkdir -m 700 "$tmp/run"
db=$tmp/db/corvina.mdb
printf '[Recent]\nFile1=%s\n' "$db" >"$XDG_CONFIG_HOME/Corvina/Corvina.conf"
tree=$tmp/tree
mkdir -p "$tree/a/b" "$tree/c"
truncate -s 1536K "$tree/a/f1"
truncate -s 3M "$tree/a/b/f2"
truncate -s 2M "$tree/c/f3"

# Xvfb picks a free display and writes its number to the descriptor.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
pids+=($!)
poll "Xvfb to start" test -s "$tmp/display"
export DISPLAY=:$(head -n 1 "$tmp/display")
# Openbox's own settings, but a double-click time of a minute: the maximise
# step's two clicks on the title bar count as one double-click however long a
# loaded machine keeps them apart.
sed 's|<doubleClickTime>[0-9]*</doubleClickTime>|<doubleClickTime>60000</doubleClickTime>|' \
  /etc/xdg/openbox/rc.xml >"$tmp/openbox.xml" && grep -q '<doubleClickTime>60000<' "$tmp/openbox.xml" ||
  fail "cannot make the window manager's settings from /etc/xdg/openbox/rc.xml"
openbox --sm-disable --config-file "$tmp/openbox.xml" >"$tmp/openbox.log" 2>&1 &
pids+=($!)
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
poll "openbox to start" wm_ready

# First start: a new database, two snapshots, exit.
start_program
expect create-database "Take Disk Snapshot"
focus corvina  # "System Database ... does not exist - would you like to create it?"
xdotool key alt+y
poll "the database file" test -s "$db"
check

# "d" in the folder tree switches debug mode on and off and goes no further:
# the tree's type-ahead must not move from "/" to "/dev" and so change the
# path to be snapshotted.
expect debug-key-in-tree "Take Disk Snapshot" -- corvina
focus "Take Disk Snapshot"
click 80 90  # the tree's root, "/"
path_is /
focus "Take Disk Snapshot"
click 80 90  # the tree has the keyboard again
for said in set "switched off"; do
  focus "Take Disk Snapshot"
  xdotool key d
  focus corvina  # "Debug mode has been set", then "... switched off"
  xdotool key Return
  poll "the message about debug mode ($said) gone" gone corvina
done
path_is /
check

# A "d" typed into a text box is typed, not the debug key: no message box.
expect first-snapshot "Take Disk Snapshot" -- corvina
take_snapshot "first run of the data disk"
check

expect later-snapshot "Take Disk Snapshot" -- corvina
mkdir -p "$tree/new"
truncate -s 4M "$tree/new/f4"
take_snapshot "later run"  # in the same second as the first, it waits for a key of its own
check

step=exit-after-snapshots
focus "Take Disk Snapshot"
xdotool key alt+f x
end_program
shot

# Second start: "&Analyse" opens the selection window before the analysis window.
start_program
expect analyse "Select Snapshot" -- "Take Disk Snapshot" "Analyze Disk Snapshot"
focus "Take Disk Snapshot"
xdotool key alt+a
check

# Delete -> Yes -> OK, and a declined create, in the selection window that
# opens before the analysis window: the program must keep a window.
expect delete-snapshot "Select Snapshot" -- corvina
choose_newest
click $((WIDTH - 52)) $((HEIGHT - 48))  # "Delete", bottom right
focus corvina  # "Delete the snapshot taken ...?"
question=$win
xdotool key alt+y
poll "the later snapshot deleted" snapshot_count "later run" 0
other_box() { win=$(xdotool search --onlyvisible --name '^corvina$' | grep -vx "$question" | head -n 1); [ -n "$win" ]; }
poll "the message 'Snapshot taken ... deleted'" other_box
poll "the message active" active
xdotool key Return
check

expect decline-create "Select Snapshot" -- corvina "Select Snapshot Database"
focus "Select Snapshot"
xdotool key alt+f Return  # "Select Snapshot Database"
focus "Select Snapshot Database"
xdotool key ctrl+a type --delay 10 "other.mdb"
xdotool key Return
focus corvina  # "System Database ... does not exist - would you like to create it?"
xdotool key alt+n
check
[ -e "$tmp/db/other.mdb" ] && fail "the declined database was created"

# A server that cannot be reached is said, and our database stays open too.
expect unreachable-server "Select Snapshot" -- corvina "Open Server Database"
focus "Select Snapshot"
xdotool key alt+f r  # "Open Se&rver Database..."
focus "Open Server Database"
xdotool key ctrl+a type --delay 10 "postgresql://localhost:1/nothing"
xdotool key Return
focus corvina  # "Cannot reach the snapshot database ..."
xdotool key Return
check

# Keys alone choose a snapshot of the database still open after the two
# failed switches: Tab from "Delete" (the last control pressed) to the path
# list, Down lists the first path's snapshots, Tab to them, Down chooses the
# newest, Enter is OK.
expect choose-snapshot-by-keys "Analyze Disk Snapshot" -- "Select Snapshot" corvina
focus "Select Snapshot"
xdotool key Tab Down Tab Down Return
check

expect directory-history "Analyze Disk Snapshot" -- corvina
focus "Analyze Disk Snapshot"
# The last items are "Directory &Trend", then "&Follow the growth" (needs a
# compare snapshot, skipped).
xdotool key alt+d Up Up Return  # the last analysis of "Analyse &Directories"
check

expect select-directory "Analyze Disk Snapshot" -- corvina
find_window "Analyze Disk Snapshot"
click 77 126  # the tree's first directory below the base path, "a"
check

expect directory-details "Analyze Disk Snapshot" -- corvina
focus "Analyze Disk Snapshot"
xdotool key alt+d d  # "&Directory Details": a chart of the two entries of "a"
check

expect trend "Directory Trend" "Analyze Disk Snapshot" -- corvina
focus "Analyze Disk Snapshot"
xdotool key ctrl+t
check

expect trend-closed "Analyze Disk Snapshot" -- corvina "Directory Trend"
focus "Directory Trend"
xdotool key Escape
check

expect resize-smaller "Analyze Disk Snapshot" -- corvina
find_window "Analyze Disk Snapshot"
xdotool windowsize "$win" 420 300
smaller() { eval "$(xdotool getwindowgeometry --shell "$win")" && ((WIDTH < 600)); }
poll "a narrower window" smaller
check

expect maximise "Analyze Disk Snapshot" -- corvina
find_window "Analyze Disk Snapshot"
xdotool mousemove --window "$win" $((WIDTH / 2)) -10 click --repeat 2 --delay 100 1  # the title bar
screen_width=$(xdotool getdisplaygeometry | cut -d' ' -f1)
maximised() { eval "$(xdotool getwindowgeometry --shell "$win")" && ((WIDTH >= screen_width - 20)); }
poll "a window as wide as the screen" maximised
check

# "Preferences" has no access key: it is reached from "Analyse &Directories"
# across the disabled "Analyse Files" (the snapshots hold no files).
chart_types=("" 3d-bar 2d-pie 3d-pie)
for i in 1 2 3; do
  expect "chart-${chart_types[i]}" "Analyze Disk Snapshot" -- corvina
  focus "Analyze Disk Snapshot"
  xdotool key alt+d Right t  # "Chart &Type", its first item active
  for ((j = 0; j < i; j++)); do xdotool key Down; done
  xdotool key Return
  check
done

# "&Take Snaphot" goes back to the take-snapshot window; "&Analyse" returns to
# the same snapshot without asking for it again.
expect take-snapshot-again "Take Disk Snapshot" -- "Analyze Disk Snapshot"
focus "Analyze Disk Snapshot"
xdotool key alt+t
check

expect analyse-again "Analyze Disk Snapshot" -- "Take Disk Snapshot" "Select Snapshot"
focus "Take Disk Snapshot"
xdotool key alt+a
check

step=exit
focus "Analyze Disk Snapshot"
xdotool key alt+f x
end_program
poll "every window gone" gone "Analyze Disk Snapshot"
shot
echo "X11 smoke test passed in ${SECONDS}s; screenshots in $shots"
