#!/usr/bin/env bash
# Takes the README's tour pictures (docs/*.png) from the running program:
# starts it with simulated instruments under a virtual X server, walks
# through its menus with the keyboard as a user would and saves each window.
#   docs/make_screenshots.sh [BUILD_DIR]      (default: build)
# Needs xvfb, xauth, xdotool and imagemagick:
#   apt-get install xvfb xauth xdotool imagemagick
# A window that does not come up is left out with a note; the others are
# still taken.
set -euo pipefail
docs=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$docs")

if [ "${1:-}" != "--inside" ]; then
  build=$(cd "${1:-$top/build}" && pwd)
  [ -x "$build/ulmaro" ] || { echo "no program at $build/ulmaro (build it first)" >&2; exit 1; }
  for t in xvfb-run xdotool import; do
    command -v $t >/dev/null || { echo "missing $t (apt-get install xvfb xauth xdotool imagemagick)" >&2; exit 2; }
  done
  # Another virtual display starting at the same moment may take the
  # display number xvfb-run picked; the program then cannot connect: retry.
  for attempt in 1 2 3; do
    rc=0
    xvfb-run -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" "$0" --inside "$build/ulmaro" || rc=$?
    [ $rc -eq 3 ] || exit $rc
    echo "the program did not come up (attempt $attempt), retrying" >&2
    sleep 2
  done
  exit 1
fi

exe=$2
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$work"' EXIT
# A fresh user: default settings, no ports chosen yet.
export HOME=$work/home XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
cp "$exe" "$work/ulmaro"   # settings beside a copy, not beside the build
cd "$work"
./ulmaro --demo task gripo pravelint >"$work/ulmaro.log" 2>&1 &
pid=$!
taken=() missed=()

# The id of the visible window whose caption matches, within 15 s.
window() {
  local id
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
keys() { xdotool key --delay 120 "$@"; sleep 0.6; }
focus() { xdotool windowfocus --sync "$1" 2>/dev/null || true; sleep 0.3; }
# click WINDOW X Y: a left click at a point of the window, then the mouse goes
# back out of the way.
click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1; sleep 0.5
  xdotool mousemove 1279 1023
}
# shot FILE CAPTION-REGEX [SETTLE-SECONDS]
shot() {
  local id
  if id=$(window "$2"); then
    sleep "${3:-0.8}"
    import -window "$id" "$docs/$1" && taken+=("$1") && return 0
  fi
  echo "left out: $1 (no window \"$2\")" >&2
  missed+=("$1")
  return 1
}
main() { window '^Ulmaro read out'; }
# Answers the message boxes a step brought up (OK), for up to $1 seconds.
answer_boxes() {
  local id end=$((SECONDS + ${1:-3}))
  while [ $SECONDS -lt $end ]; do
    id=$(xdotool search --onlyvisible --name '^(Info|Instruction|Query|Error|Data error)$' 2>/dev/null | tail -n1) || true
    if [ -n "$id" ]; then
      focus "$id"; keys Return
    else
      sleep 0.3
    fi
  done
}

xdotool mousemove 1279 1023   # no tooltips in the pictures
m=$(main) || { cat "$work/ulmaro.log" >&2; exit 3; }
focus "$m"
shot main.png '^Ulmaro read out$' 1.5 || true

# Talvis, E-Fieldmeter, ±20kV/m; View → Chart; Start.
focus "$m"; keys alt+d t e 2
focus "$m"; keys alt+v c
focus "$m"; keys alt+s
shot chart.png '^Ulmaro read out .*Talvis' 4 || true
focus "$m"; keys alt+x        # Exit of the chart view

# View → Display: the reading in large digits (a modal window of its own),
# started, then stopped and left.
focus "$m"; keys alt+v d
if d=$(window 'Selected type = .*Talvis'); then
  focus "$d"; keys alt+s
  shot display.png 'Selected type = .*Talvis' 3 || true
  focus "$d"; keys alt+b alt+x
else
  shot display.png 'Selected type = .*Talvis' || true
fi

# ?: the help window (the last entry of the menu bar).
focus "$m"; keys alt+t Right Return
if shot help.png '^Info$'; then
  click "$(window '^Info$')" 300 225   # OK
fi

# choose_port NAME [PICTURE]: Setup → Com Port, pick the simulated port,
# (take the picture,) OK.
choose_port() {
  focus "$m"; keys alt+t Return
  local id
  id=$(window '^Setup$') || { echo "no port choice for $1" >&2; return 1; }
  focus "$id"
  # The port box takes a typed name.
  click "$id" 122 47; keys ctrl+a
  xdotool type --delay 60 "$1 (simulated)"; sleep 0.4
  [ -z "${2:-}" ] || shot "$2" '^Setup$' || true
  click "$id" 132 117   # OK
}

# Karvo: the decay-time window, its chart and its file read-out.
if choose_port "Karvo" setup_com.png; then
  focus "$m"; keys alt+d k c Return
  if cpm=$(window '^CHARGE-PLATE Monitor / Port'); then
    focus "$cpm"; keys alt+m      # Start Measure: a decay, its results
    sleep 5
    shot cpm.png '^CHARGE-PLATE Monitor / Port' || true
    focus "$cpm"; keys alt+c      # View Chart: the decay curve
    if shot cpm_chart.png '^Chart CHARGE-PLATE Monitor$' 1; then
      focus "$(window '^Chart CHARGE-PLATE Monitor$')"; keys alt+x
    fi
    focus "$cpm"; keys alt+f      # Read File: which stored files to read
    if shot cpm_files.png '^CHARGE-PLATE Monitor$' 1; then
      click "$(window '^CHARGE-PLATE Monitor$')" 261 78   # Abort
    fi
    focus "$cpm"; keys alt+x
  else
    shot cpm.png '^CHARGE-PLATE Monitor / Port' || true
  fi
fi

# Ohmra: the measurement window and, with "pravelint", its calibration window.
if choose_port "Ohmra"; then
  focus "$m"; keys alt+d o Return
  if oh=$(window '^Ohmra / Port'); then
    focus "$oh"; keys alt+i      # Init: the instrument's identification
    answer_boxes 12
    focus "$oh"; keys alt+r space  # Start (alt+r is Break's key too): one measurement
    answer_boxes 10
    shot ohmra.png '^Ohmra / Port' || true
    focus "$oh"; keys alt+f      # Read File: the stored files, from 1 to 1
    click "$oh" 365 426          # OK
    answer_boxes 8
    if shot ohmra_comment.png '^Ohmra $' 1; then   # a comment per stored file
      focus "$(window '^Ohmra $')"; keys alt+e     # Exit
      answer_boxes 3
    fi
    oh=$(window '^Ohmra / Port') && { focus "$oh"; keys alt+x; }
  else
    shot ohmra.png '^Ohmra / Port' || true
  fi
  focus "$m"; keys alt+d o Down Return
  if cali=$(window 'Calibration mode'); then
    focus "$cali"; keys alt+a    # Read parameters
    sleep 3
    shot ohmra_cali.png 'Calibration mode' || true
    click "$cali" 312 527         # Exit
  else
    shot ohmra_cali.png 'Calibration mode' || true
  fi
fi

# Gripo: shown with "gripo" in demo mode.
if choose_port "Gripo"; then
  focus "$m"; keys alt+d g Return
  if gr=$(window '^Gripo / Port'); then
    click "$gr" 105 311          # Start data Transfer
    answer_boxes 8
    shot gripo.png '^Gripo / Port' || true
    focus "$gr"; keys alt+x
  else
    shot gripo.png '^Gripo / Port' || true
  fi
fi

echo "taken: ${taken[*]:-none}"
[ ${#missed[@]} -eq 0 ] || echo "left out: ${missed[*]}"
