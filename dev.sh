#!/usr/bin/env bash
# Sets up, builds and runs Quorvane on Debian 12. Safe to run again: it installs only what is
# missing and rebuilds only what changed.
#   ./dev.sh run    install, build, start the program
#   ./dev.sh test   install (with what only the tests need), build, run every test
#   ./dev.sh install [PACKAGE...]   install what is missing of `run`'s packages and of PACKAGE...
set -euo pipefail
cd "$(dirname "$0")"

# Debian 12's qt6-charts-dev needs libqt6opengl6-dev for CMake to find it, without depending on it.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev libxxhash-dev zlib1g-dev libsqlite3-dev
          fonts-dejavu-core)
# Only the tests need these: the HTML report is checked in a real browser, a history file with
# the sqlite3 command.
test_packages=(chromium python3 sqlite3)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

build() {
  if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_WERROR=ON
  fi
  cmake --build build
}

case "${1:-}" in
  run)
    install_missing
    build
    exec build/src/app/quorvane
    ;;
  test)
    packages+=("${test_packages[@]}")
    install_missing
    build
    cd build && exec ctest --output-on-failure -j "$(nproc)"
    ;;
  install)
    shift
    packages+=("$@")
    install_missing
    ;;
  *)
    echo "usage: $0 run|test|install [PACKAGE...]" >&2
    exit 2
    ;;
esac
