#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing when
# they are all present already. Sourced by scripts/run and scripts/test.
set -euo pipefail

QUARRY_PACKAGES=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev
  clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libqscintilla2-qt6-dev
  xvfb xauth
  python3 dpkg-dev
)

quarry_missing_packages() {
  local p
  for p in "${QUARRY_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$p"
    fi
  done
}

quarry_install_deps() {
  local missing
  missing=$(quarry_missing_packages)
  [ -z "$missing" ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing missing packages:" $missing >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null
  # shellcheck disable=SC2086
  $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# Configures and builds into the given directory (Release unless told otherwise).
quarry_build() {
  local dir=$1 type=${2:-Release}
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
  fi
  cmake --build "$dir" -j "$(nproc)"
}
