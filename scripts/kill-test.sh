#!/usr/bin/env bash
# Types into the real program under Xvfb and kills it with SIGKILL at a random moment, RUNS
# times. After every kill the database must pass SQLite's integrity check, and the note must hold
# every word that the autosave rules promise: words followed by a pause of quiet that ended more
# than two seconds before the kill, and every word typed more than six seconds before it (the
# five-second ceiling while typing goes on, plus a second of slack for the save itself).
#
# Usage: scripts/kill-test.sh [RUNS] [PROGRAM]   (defaults: 10, build/app/brevaro-notes)
# Needs: xvfb, xdotool, sqlite3. Prints one line per run and a summary; exits 1 on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10}
program=${2:-build/app/brevaro-notes}
[ -x "$program" ] || { echo "kill-test: $program is not built" >&2; exit 2; }
for tool in Xvfb xdotool sqlite3; do
  command -v "$tool" >/dev/null || { echo "kill-test: $tool missing" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
# Seconds between two timestamps, with three decimals.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
random_between() { awk -v lo="$1" -v hi="$2" -v r="$RANDOM" 'BEGIN { printf "%.2f", lo + (hi - lo) * r / 32767 }'; }

fd_file="$work/display"
# -noreset: by default Xvfb resets itself when its last client leaves, and a program started
# during the reset cannot connect (it then stops with "could not connect to display").
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$fd_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$fd_file" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$fd_file")" QT_QPA_PLATFORM=xcb
# Sign-in tokens are looked up in the run's own folders, never in the user's keyring.
mkdir -p -m 700 "$work/runtime"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
unset DBUS_SESSION_BUS_ADDRESS

failures=0
corrupt=0
worst_loss=0
for run in $(seq 1 "$runs"); do
  data="$work/data$run"
  mkdir -p "$data"
  # A temporary folder of its own: the single-instance socket lives there, and a copy of the
  # program started elsewhere on this machine must not take over the run.
  mkdir -p "$work/tmp$run"
  # The release check goes to a closed local port: no network, and no dialog over the editor.
  TMPDIR="$work/tmp$run" NOTES_DATA_DIR="$data" UPDATE_BASE_URL=http://127.0.0.1:9 "$program" \
    >"$work/log$run" 2>&1 &
  app_pid=$!
  window=""
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -z "$window" ]; then
    echo "run $run: FAIL, no window appeared; the program's last log lines:"; failures=$((failures + 1))
    tail -n 5 "$work/log$run" | sed 's/^/  /'
    kill -9 "$app_pid" 2>/dev/null || true; app_pid=""; continue
  fi
  # No window manager runs here: focus the main window, then one key press makes a note.
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  sleep 0.5
  xdotool key ctrl+n
  # Typing starts once the new note is stored: on a busy machine the key can take a while.
  for _ in $(seq 100); do
    db=$(ls "$data"/brevaro_notes_*.db 2>/dev/null | head -n1)
    [ -n "$db" ] && [ "$(sqlite3 "$db" "SELECT count(*) FROM notes WHERE is_sample = 0;" 2>/dev/null)" = "1" ] && break
    sleep 0.1
  done
  sleep 0.3

  kill_after=$(random_between 3 14)
  log="$work/words$run"
  : >"$log"
  (
    n=0
    while true; do
      # A burst: short ones with a pause after, sometimes a long one of several seconds.
      if [ $((RANDOM % 4)) -eq 0 ]; then words=$((40 + RANDOM % 40)); else words=$((3 + RANDOM % 8)); fi
      for _ in $(seq "$words"); do
        n=$((n + 1))
        word=$(printf 'k%05d' "$n")
        xdotool type --delay 15 "$word "
        echo "$word $(now) 0" >>"$log"
      done
      pause=$(random_between 1.3 2.5)
      # Mark the last word of the burst: a pause of quiet follows it.
      sed -i '$ s/ 0$/ 1/' "$log"
      sleep "$pause"
    done
  ) &
  typist=$!
  start=$(now)
  sleep "$kill_after"
  # Quietly: the shell would otherwise report the killed jobs.
  {
    kill -9 "$app_pid"
    killed=$(now)
    kill "$typist"
    wait "$typist"
    wait "$app_pid"
  } 2>/dev/null || true
  app_pid=""

  db=$(ls "$data"/brevaro_notes_*.db 2>/dev/null | head -n1)
  check=$(sqlite3 "$db" "PRAGMA integrity_check;" 2>&1 || true)
  if [ "$check" != "ok" ]; then
    echo "run $run: FAIL, integrity check: $check"; corrupt=$((corrupt + 1)); failures=$((failures + 1))
    continue
  fi
  body=$(sqlite3 "$db" "SELECT group_concat(body, ' ') FROM notes WHERE is_sample = 0;" 2>/dev/null || true)

  printf '%s' "$body" >"$work/body$run"
  # Reads the words backwards: once one word is promised, every word before it is as well.
  # Prints the promised words that are missing, then the seconds lost (kill to first missing).
  verdict=$(tac "$log" | awk -v killed="$killed" -v bodyfile="$work/body$run" '
    BEGIN { RS = "\0"; getline body < bodyfile; RS = "\n" }
    {
      age = killed - $2
      if (($3 == 1 && age > 2.0) || age > 6.0) promised = 1
      if (index(body, $1) == 0) {
        first_missing_age = age
        if (promised) missing = missing " " $1 "(" sprintf("%.1f", age) "s)"
      }
      else present++
    }
    END { printf "%s|%.3f|%d\n", missing, first_missing_age + 0, present }')
  IFS='|' read -r missing loss present <<<"$verdict"
  worst_loss=$(awk -v a="$worst_loss" -v b="$loss" 'BEGIN { print (b > a) ? b : a }')
  typed=$(wc -l <"$log")
  if [ -n "$missing" ]; then
    echo "run $run: FAIL, killed after $(elapsed "$start" "$killed") s, $typed words typed, $present saved, promised words missing:$missing"
    failures=$((failures + 1))
  else
    echo "run $run: ok, killed after $(elapsed "$start" "$killed") s, $typed words typed, $present saved, lost the last $loss s"
  fi
done

echo "kill test: $runs runs, $corrupt corrupt databases, most seconds lost $worst_loss"
echo "$((runs - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
