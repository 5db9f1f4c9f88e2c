# Shared by scripts/run and scripts/test: install what is missing, then configure and build.
set -euo pipefail

VELMORA_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMORA_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libxml2-dev curl wget
  qt6-base-dev fonts-ipafont-gothic libqrencode-dev zbar-tools desktop-file-utils chromium)

# apt-get runs only when a package is missing, so a warm machine starts at once.
velmora_install() {
  local missing=()
  for package in "${VELMORA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
}

# velmora_build DIR [CMAKE ARGS...]: configure once, then build everything in DIR (only the
# targets named in VELMORA_TARGETS when it is set).
velmora_build() {
  local dir=$1
  shift
  cmake -S "$VELMORA_TOP" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" ${VELMORA_TARGETS:+--target $VELMORA_TARGETS}
}
