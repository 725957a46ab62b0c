#!/usr/bin/env bash
# scripts/run from start to Ctrl-C, as CI runs it on a clean clone: no
# display, the emulated mouse. It must start, write the screenshot, show the
# start-up LED preview on the emulated mouse, and on SIGINT end every process
# it started. Not a ctest test: it makes its own release build in build-run/.
#   dist/tests/run_e2e.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
run_pid=""
cleanup() {
  [ -n "$run_pid" ] && kill -KILL "$run_pid" 2>/dev/null || true
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

# An asynchronous command of a script starts with SIGINT ignored; put the
# default back so that scripts/run can take Ctrl-C.
out="$work/run.out"
perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!"' "$root/scripts/run" --emulator >"$out" 2>&1 &
run_pid=$!

# Until it runs (the build included), bounded.
deadline=$((SECONDS + 1800))
until grep -q '^Running\.\|^Ctrl-C stops it\.' "$out"; do
  kill -0 "$run_pid" 2>/dev/null || { cat "$out"; echo "FAIL scripts/run ended early"; exit 1; }
  [ "$SECONDS" -lt "$deadline" ] || { tail -40 "$out"; echo "FAIL scripts/run did not start in time"; exit 1; }
  sleep 1
done
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
kill -INT "$run_pid"
( w=; trap 'kill $w 2>/dev/null; exit 0' TERM; sleep 60 & w=$!; wait "$w"; kill -KILL "$run_pid" 2>/dev/null ) &
dog=$!
set +e; wait "$run_pid"; status=$?; set -e
kill -TERM "$dog" 2>/dev/null || true
wait "$dog" 2>/dev/null || true
run_pid=""
if [ "$status" = 130 ]; then ok "scripts/run ended on SIGINT"; else bad "scripts/run status $status on SIGINT"; fi
for p in $pids; do
  if kill -0 "$p" 2>/dev/null; then bad "pid $p still runs"; else ok "pid $p ended"; fi
done
tail -6 "$out"
[ "$failures" = 0 ]
