# Shared by scripts/run, scripts/test, scripts/bench and scripts/fuzz.
# Debian 12 packages the build, the tests and the programs need.
MOUSE_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libsqlite3-dev libudev-dev libpulse-dev libx11-dev libxi-dev libxtst-dev
  pulseaudio pulseaudio-utils xvfb x11-xserver-utils xdotool imagemagick trayer
  fonts-dejavu-core fonts-liberation2 fonts-noto-cjk
)

# Installs only what is missing, so a second run costs a dpkg query.
ensure_packages() {
  local missing=()
  local pkg
  local -A installed=()
  # One dpkg-query for the whole list: called per package, it costs seconds
  # on a busy machine.
  while read -r pkg; do installed[$pkg]=1; done < <(
    dpkg-query -W -f='${Package} ${Status}\n' "$@" 2>/dev/null | awk '/ install ok installed$/ { print $1 }')
  for pkg in "$@"; do
    [ -n "${installed[$pkg]+set}" ] || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

jobs_count() {
  local n
  n=$(nproc 2>/dev/null || echo 2)
  echo "$n"
}

# Starts a private Xvfb on a display nobody holds: Xvfb itself takes the
# first free number and writes it to the descriptor once it accepts
# connections, so two scripts starting one at the same time cannot collide
# and nobody waits on a guess. Extra arguments go to Xvfb. Sets xvfb_pid and
# xvfb_display (":N"); returns 1, with both empty, when none starts in 5 s.
# The caller stops it: stop_private_xvfb.
start_private_xvfb() {
  xvfb_pid=""
  xvfb_display=""
  command -v Xvfb >/dev/null 2>&1 || return 1
  local out n
  out=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp "$@" 3>"$out" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    n=$(head -n 1 "$out" 2>/dev/null || true)
    if [[ "$n" =~ ^[0-9]+$ ]] && [ "$(wc -l <"$out")" -ge 1 ]; then
      rm -f "$out"
      xvfb_display=":$n"
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$out"
  stop_private_xvfb
  return 1
}

# Stops the Xvfb start_private_xvfb started, if any; safe to call twice.
stop_private_xvfb() {
  [ -n "${xvfb_pid:-}" ] || return 0
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}

# What scripts/test-kernel needs beyond MOUSE_PACKAGES. The kernel, busybox and
# udev it runs are fetched as .deb files and unpacked, never installed.
MOUSE_KERNEL_TEST_PACKAGES=(qemu-system-x86 xz-utils)
