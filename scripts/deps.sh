#!/usr/bin/env bash
# Installs what the build, the run and the tests need on a Debian machine.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libsndfile1-dev nlohmann-json3-dev libfftw3-dev
          libgtest-dev libgmock-dev libbenchmark-dev libnanoflann-dev libsamplerate0-dev
          sox libsox-fmt-all liblo-tools netpbm jq python3 clang libclang-rt-14-dev ccache
          shellcheck strace)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
