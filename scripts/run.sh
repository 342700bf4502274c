#!/usr/bin/env bash
# Builds the instrument (Release) and runs it on the host platform.
# Options are the host's (see --help); with none it runs in real time until
# Ctrl-C, with its data in the default folder and its output in output.wav there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/release --target corvane
exec build/release/corvane "$@"
