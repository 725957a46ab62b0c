# Helpers for the kernel checks (sourced by tests/kernel/inside.sh and by each
# check). A check prints "PASS: <what>" or "FAIL: <what>" per thing it proves.

pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; ktest_failed=$((${ktest_failed:-0} + 1)); }
skip() { echo "SKIP: $*"; }

# check WHAT COMMAND...: PASS or FAIL by the command's status; its output
# stays in the check's log.
check() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# The status a check ends with: 1 when it printed any FAIL.
ktest_status() { [ "${ktest_failed:-0}" = 0 ]; }

# modprobe in the virtual machine comes from busybox (the modules sit in the
# initramfs, bound to /lib/modules); elsewhere the machine's own.
ktest_modprobe() {
  if [ -n "${KTEST_BUSYBOX:-}" ]; then "$KTEST_BUSYBOX" modprobe "$@"; else modprobe "$@"; fi
}
ktest_rmmod() {
  if [ -n "${KTEST_BUSYBOX:-}" ]; then "$KTEST_BUSYBOX" rmmod "$@"; else rmmod "$@"; fi
}

# ktest_wait_for PATH [SECONDS]: until PATH exists, at most SECONDS (default
# 10). Nothing tells us when sysfs or /dev gains a node without a udev
# daemon, so this looks every 20 ms.
ktest_wait_for() {
  local path=$1 limit=${2:-10} i
  for ((i = 0; i < limit * 50; i++)); do
    [ -e "$path" ] && return 0
    sleep 0.02
  done
  [ -e "$path" ]
}

# ktest_wait_gone PATH [SECONDS]: until PATH no longer exists.
ktest_wait_gone() {
  local path=$1 limit=${2:-10} i
  for ((i = 0; i < limit * 50; i++)); do
    [ -e "$path" ] || return 0
    sleep 0.02
  done
  [ ! -e "$path" ]
}

# Debian's udev daemon, with its own rules, systemd's (uaccess, seats) and
# whatever a check put into /etc/udev/rules.d. ktest_udevd_start returns once
# every present device has been through the rules; ktest_udevd_stop ends the
# daemon and, in the virtual machine, forgets its database, so the next check
# starts on a machine without udev again. The daemon logs to
# $ktest_udevd_log (udevadm control --log-level=debug: each rule it applies).
ktest_udevd_pid=""
ktest_udevd_log=""
ktest_udevd_start() {
  local udevd
  # In the virtual machine, Debian's udev as scripts/test-kernel unpacked it,
  # put in place as if installed (its hardware database sources left out:
  # nothing here compiles them).
  if [ -n "${KTEST_VM:-}" ] && [ -d "${KTEST_UDEV_ROOT:-}" ] && [ ! -e /lib/systemd/systemd-udevd ]; then
    tar -C "$KTEST_UDEV_ROOT" -cf - --exclude=./lib/udev/hwdb.d --exclude=./usr ./bin ./lib ./etc |
      tar -C / -xf - --keep-directory-symlink || return 1
  fi
  udevd=$(command -v systemd-udevd || true)
  [ -n "$udevd" ] || udevd=/lib/systemd/systemd-udevd
  [ -x "$udevd" ] || { echo "no systemd-udevd here" >&2; return 1; }
  if [ -z "${KTEST_VM:-}" ] && [ -S /run/udev/control ]; then
    echo "a udev daemon already runs on this machine" >&2
    return 1
  fi
  ktest_udevd_log="${KTEST_TMP:-/tmp}/udevd.log"
  SYSTEMD_LOG_TARGET=console "$udevd" --resolve-names=never >"$ktest_udevd_log" 2>&1 &
  ktest_udevd_pid=$!
  # The control socket is the daemon's sign that it takes requests.
  ktest_wait_for /run/udev/control 20 || { echo "systemd-udevd did not start" >&2; return 1; }
  udevadm trigger --type=subsystems --action=add >/dev/null 2>&1
  udevadm trigger --type=devices --action=add >/dev/null 2>&1
  udevadm settle --timeout=60
}
ktest_udevd_stop() {
  [ -n "$ktest_udevd_pid" ] || return 0
  # A signal: it ends the daemon whether or not udevadm would take requests.
  kill "$ktest_udevd_pid" 2>/dev/null
  # A daemon that does not end within 10 s is killed; the wait is on its end.
  (sleep 10 && kill -9 "$ktest_udevd_pid" 2>/dev/null) &
  local watchdog=$!
  wait "$ktest_udevd_pid" 2>/dev/null
  kill "$watchdog" 2>/dev/null
  wait "$watchdog" 2>/dev/null
  ktest_udevd_pid=""
  [ -z "${KTEST_VM:-}" ] || rm -rf /run/udev
}
