#!/usr/bin/env bash
# scripts/run from start to Ctrl-C, as CI runs it on a clean clone: no
# display, the emulated mouse. It must start, write the screenshot, show the
# start-up LED preview on the emulated mouse, and on SIGINT end every process
# it started and remove its temporary folder. Then once more as
# `scripts/run | tee run.log` stopped with Ctrl-C, which ends tee first: the
# cleanup must do the same with its standard output gone. Last, without a
# runtime folder of the session and with the monitor killed from outside:
# the programs' logs start with no complaint about the runtime folder, and
# the end says that the monitor had ended and how, with no line of the shell.
# Not a ctest test: it makes its own release build in build-run/.
#   dist/tests/run_e2e.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
run_pid=""
reader_pid=""
cleanup() {
  [ -n "$run_pid" ] && kill -KILL "$run_pid" 2>/dev/null || true
  [ -n "$reader_pid" ] && kill -KILL "$reader_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
ok() { echo "ok   $1"; }
bad() { echo "FAIL $1"; failures=$((failures + 1)); }

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM MOUSE_EMULATOR MOUSE_RUNTIME_DIR
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/run" CCACHE_DIR="${CCACHE_DIR:-/root/.cache/ccache}"
mkdir -p "$HOME" && mkdir -m 0700 "$XDG_RUNTIME_DIR"
# scripts/run makes its temporary folder here; nothing may stay behind.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

# wait_running <output file>: until scripts/run says it runs (the build
# included), bounded.
wait_running() {
  local deadline=$((SECONDS + 1800))
  until grep -q '^Running\.\|^Ctrl-C stops it\.' "$1"; do
    kill -0 "$run_pid" 2>/dev/null || { cat "$1"; echo "FAIL scripts/run ended early"; exit 1; }
    [ "$SECONDS" -lt "$deadline" ] || { tail -40 "$1"; echo "FAIL scripts/run did not start in time"; exit 1; }
    sleep 1
  done
}

# interrupt <what> <pids...>: Ctrl-C to scripts/run; it must end with 130,
# every process it printed must be gone, and its temporary folder too.
interrupt() {
  local what="$1" dog status p
  shift
  kill -INT "$run_pid"
  ( w=; trap 'kill $w 2>/dev/null; exit 0' TERM; sleep 60 & w=$!; wait "$w"; kill -KILL "$run_pid" 2>/dev/null ) &
  dog=$!
  set +e; wait "$run_pid"; status=$?; set -e
  kill -TERM "$dog" 2>/dev/null || true
  wait "$dog" 2>/dev/null || true
  run_pid=""
  if [ "$status" = 130 ]; then ok "$what: scripts/run ended on SIGINT"; else bad "$what: scripts/run status $status on SIGINT"; fi
  for p in "$@"; do
    if kill -0 "$p" 2>/dev/null; then bad "$what: pid $p still runs"; kill -KILL "$p" 2>/dev/null || true; else ok "$what: pid $p ended"; fi
  done
  if [ -z "$(ls -A "$TMPDIR")" ]; then ok "$what: the temporary folder is gone"; else bad "$what: left behind in TMPDIR: $(ls -A "$TMPDIR")"; fi
}

# An asynchronous command of a script starts with SIGINT ignored; put the
# default back so that scripts/run can take Ctrl-C.
out="$work/run.out"
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!"' "$root/scripts/run" --emulator >"$out" 2>&1 &
run_pid=$!

wait_running "$out"
sed -n '/^Emulated mouse/,$p' "$out"

pids=$(grep -o 'pid [0-9]*' "$out" | awk '{print $2}' | sort -u)
socket=$(sed -n 's/^Emulated mouse: pid [0-9]*, socket //p' "$out")
shot=$(sed -n 's/^Screenshot of the configurator: //p' "$out")
if grep -q '^Not built yet' "$out"; then
  echo "note: the programs are not built; only the emulated mouse and the display were checked"
else
  if [ -n "$shot" ] && [ -s "$shot" ]; then ok "screenshot $shot"; else bad "screenshot of the configurator"; fi
  led=$("$root/build-run/program/mouse-emulator" --socket "$socket" led 2>&1 || true)
  if [ -n "$led" ] && [ "$led" != none ]; then ok "start-up LED preview on the emulated mouse ($led)"; else bad "no LED preview ($led)"; fi
fi

# Ctrl-C: scripts/run ends, and every process it printed is gone.
interrupt "Ctrl-C" $pids
tail -6 "$out"

# `scripts/run | tee run.log` and Ctrl-C: the terminal's Ctrl-C ends tee as
# well, so the cleanup writes into a pipe nobody reads. Here the reader is
# killed before scripts/run gets its SIGINT; stdout and stderr both go into
# the pipe, the harder case.
mkfifo "$work/pipe"
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!"' "$root/scripts/run" --emulator >"$work/pipe" 2>&1 &
run_pid=$!
tee_out="$work/tee.out"
cat <"$work/pipe" >"$tee_out" &
reader_pid=$!
wait_running "$tee_out"
pids=$(grep -o 'pid [0-9]*' "$tee_out" | awk '{print $2}' | sort -u)
kill -KILL "$reader_pid"
wait "$reader_pid" 2>/dev/null || true
reader_pid=""
interrupt "Ctrl-C with the reader of its output gone" $pids

if ! grep -q '^Not built yet' "$out"; then
  out="$work/run3.out"
  ( unset XDG_RUNTIME_DIR
    exec perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!"' "$root/scripts/run" --emulator ) >"$out" 2>&1 &
  run_pid=$!
  wait_running "$out"
  pids=$(grep -o 'pid [0-9]*' "$out" | awk '{print $2}' | sort -u)
  tessold=$(sed -n 's/^tessold (monitor): pid //p' "$out")
  for log in tessold Marvane; do
    if grep -q 'XDG_RUNTIME_DIR' "$root/build-run/logs/$log.log"; then
      bad "$log.log complains about the runtime folder: $(head -1 "$root/build-run/logs/$log.log")"
    else
      ok "$log.log has no complaint about the runtime folder"
    fi
  done
  kill -KILL "$tessold"
  # Gone (a zombie of scripts/run) before the Ctrl-C, bounded.
  for _ in $(seq 1 200); do
    [ "$(cut -d' ' -f3 "/proc/$tessold/stat" 2>/dev/null || echo Z)" = Z ] && break
    sleep 0.1
  done
  interrupt "Ctrl-C after the monitor was killed" $pids
  if grep -q 'Killed' "$out"; then bad "the shell's Killed line: $(grep Killed "$out")"; else ok "no Killed line of the shell"; fi
  if grep -q "^tessold (pid $tessold) had already ended: killed by SIGKILL$" "$out"; then
    ok "the end says the monitor had been killed"
  else
    bad "the end does not say the monitor had been killed: $(grep tessold "$out" | tail -2)"
  fi
fi
[ "$failures" = 0 ]
