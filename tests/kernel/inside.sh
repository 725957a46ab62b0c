#!/usr/bin/env bash
# Runs every tests/kernel/checks/*.sh in name order on the machine it runs on:
# the virtual machine scripts/test-kernel boots (KTEST_VM=1), or, with
# scripts/test-kernel --here, a machine that has /dev/uhid.
#
# In:  MOUSE_SRC (the source tree), MOUSE_BUILD (the build, read-only),
#      RESULTS (a writable folder).
# Out: RESULTS/checks.log (each check's name, then its PASS, FAIL and SKIP
#      lines), RESULTS/<check>.log (all it printed), RESULTS/current (the check
#      running). Exits 1 when any check failed.
#
# Each check runs with MOUSE_SRC, MOUSE_BUILD, RESULTS and KTEST_TMP (an empty
# writable folder of its own), HOME and the XDG folders on scratch space, and
# no udev daemon (tests/kernel/lib.sh starts one for a check that wants it).
set -uo pipefail
: "${MOUSE_SRC:?}" "${MOUSE_BUILD:?}" "${RESULTS:?}"
source "$MOUSE_SRC/tests/kernel/lib.sh"

if [ "${KTEST_VM:-}" = 1 ]; then
  # The root is an overlay on a read-only share: everything that programs
  # write at run time gets a fresh tmpfs, without what the host left there.
  # A source tree or build that lives in one of those folders is bound in
  # again on top, so the checks see the host's tree wherever it is.
  keep=()
  for p in "$MOUSE_SRC" "$MOUSE_BUILD"; do
    for d in /tmp /run /var/tmp /dev/shm; do
      case "$p/" in "$d"/*) keep+=("$p") ;; esac
    done
  done
  i=0
  for p in "${keep[@]}"; do
    mkdir -p "/ktest/keep/$i"
    mount --bind "$p" "/ktest/keep/$i" || { echo "inside.sh: cannot keep $p visible" >&2; exit 1; }
    i=$((i + 1))
  done
  for d in /tmp /run /var/tmp /dev/shm; do
    mkdir -p "$d"
    mount -t tmpfs -o mode=1777 tmpfs "$d"
  done
  chmod 0755 /run
  i=0
  for p in "${keep[@]}"; do
    mkdir -p "$p"
    mount --move "/ktest/keep/$i" "$p" || { echo "inside.sh: cannot bind $p in again" >&2; exit 1; }
    i=$((i + 1))
  done
  # What systemd would add to devtmpfs: bash's process substitution needs /dev/fd.
  ln -sfn /proc/self/fd /dev/fd
  ln -sf /proc/self/fd/0 /dev/stdin
  ln -sf /proc/self/fd/1 /dev/stdout
  ln -sf /proc/self/fd/2 /dev/stderr
  mkdir -p /dev/pts
  mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
  hostname ktest
  scratch=/tmp/ktest
else
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
fi
mkdir -p "$scratch"

modules_ok=1
# dummy_hcd: four USB device controllers, each with its host port, so that a
# check can plug four gadgets at once.
for m in configfs uhid hid_generic usbhid "dummy_hcd num=4" libcomposite usb_f_hid; do
  [ -d "/sys/module/${m%% *}" ] && continue
  ktest_modprobe $m || { echo "inside.sh: cannot load $m" >&2; modules_ok=0; }
done
if [ -d /sys/kernel/config ] && ! mountpoint -q /sys/kernel/config; then
  mount -t configfs configfs /sys/kernel/config
fi
[ "$modules_ok" = 1 ] || echo "inside.sh: some modules are missing; the checks that need them fail" >&2

export HOME="$scratch/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export XDG_STATE_HOME="$HOME/.local/state" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$MOUSE_SRC/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export MOUSE_SRC MOUSE_BUILD RESULTS

# A hung check must not eat the whole machine's time limit: each gets at most
# this long, and the run goes on with the next.
check_limit=${KTEST_CHECK_TIMEOUT:-120}

: > "$RESULTS/checks.log"
failed=0
shopt -s nullglob
checks=("$MOUSE_SRC"/tests/kernel/checks/*.sh)
shopt -u nullglob
if [ ${#checks[@]} = 0 ]; then
  echo "  FAIL: no check found in $MOUSE_SRC/tests/kernel/checks" | tee -a "$RESULTS/checks.log"
  exit 1
fi
# KTEST_ONLY: a comma-separated list of the checks to run.
if [ -n "${KTEST_ONLY:-}" ]; then
  chosen=()
  IFS=, read -r -a wanted <<<"$KTEST_ONLY"
  for w in "${wanted[@]}"; do
    if [ -f "$MOUSE_SRC/tests/kernel/checks/$w.sh" ]; then
      chosen+=("$MOUSE_SRC/tests/kernel/checks/$w.sh")
    else
      echo "  FAIL: there is no check $w" | tee -a "$RESULTS/checks.log"
      failed=1
    fi
  done
  checks=("${chosen[@]}")
fi
for script in "${checks[@]}"; do
  name=$(basename "$script" .sh)
  echo "$name" > "$RESULTS/current"
  echo "$name" | tee -a "$RESULTS/checks.log"
  export KTEST_TMP="$scratch/checks/$name"
  mkdir -p "$KTEST_TMP"
  log="$RESULTS/$name.log"
  start=$(date +%s)
  (cd "$KTEST_TMP" && timeout -k 5 "$check_limit" bash "$script") >"$log" 2>&1 </dev/null
  rc=$?
  lines=$(grep -E '^(PASS|FAIL|SKIP): ' "$log" | sed 's/^/  /')
  [ -z "$lines" ] || echo "$lines" | tee -a "$RESULTS/checks.log"
  if [ "$rc" != 0 ] && ! grep -q '^FAIL: ' "$log"; then
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
      echo "  FAIL: $name: ended on its time limit of $check_limit s" | tee -a "$RESULTS/checks.log"
    else
      echo "  FAIL: $name: ended with status $rc" | tee -a "$RESULTS/checks.log"
    fi
  fi
  grep -q '^  FAIL: ' <<<"$lines" && failed=1
  [ "$rc" = 0 ] || failed=1
  echo "  ($name took $(( $(date +%s) - start )) s)" | tee -a "$RESULTS/checks.log"
done
rm -f "$RESULTS/current"
exit "$failed"
