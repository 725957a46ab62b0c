# Shared by scripts/run, scripts/test, scripts/bench and scripts/fuzz.
# Debian 12 packages the build, the tests and the programs need.
MOUSE_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libsqlite3-dev libudev-dev libpulse-dev libx11-dev libxi-dev libxtst-dev
  pulseaudio pulseaudio-utils xvfb x11-xserver-utils xdotool imagemagick
  fonts-dejavu-core fonts-liberation2 fonts-noto-cjk
)

# Installs only what is missing, so a second run costs a dpkg query.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
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
