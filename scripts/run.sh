#!/usr/bin/env bash
# Builds the instrument (Release, in the checkout's build/release) and runs
# it on the host platform through its launcher (corvane-launch), from the
# folder it was called in: every path among the options (--root,
# --audio-out, --panel-script, ...) is the caller's. Options are the host's
# (see --help); with none it runs in real time until Ctrl-C, with its data
# in the default folder and its output in output.wav there. What the
# launcher does (restarts, power-off, stops) is said in the README.
#
# CORVANE_BINARY=PATH runs that program instead, with no dependency check
# and no build, through the launcher CORVANE_LAUNCHER names (by default the
# one beside the program): the tests point them at what they have built.
set -euo pipefail

binary=${CORVANE_BINARY:-}
if [ -z "$binary" ]; then
  checkout=$(cd "$(dirname "$0")/.." && pwd)
  # Through ccache when it is there (deps.sh installs it), as the tests build.
  compiler_launcher=()
  if command -v ccache >/dev/null 2>&1; then
    compiler_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  # What the build says goes to standard error: standard output may be the
  # audio (--audio-out /dev/stdout | ...). Where standard error leads there
  # too (2>&1, nohup) or is a file an option names (--audio-out take.wav
  # 2> take.wav, refused), it goes into a log instead, shown only on a
  # failure.
  build() {
    "$checkout/scripts/deps.sh" &&
      (cd "$checkout" &&
         cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BENCH=OFF \
               "${compiler_launcher[@]}" >/dev/null &&
         cmake --build build/release --target corvane corvane-launch)
  }
  named_by_an_option() {
    local word
    for word in "$@"; do
      if [ "$word" -ef /dev/fd/2 ] || [ "${word#*=}" -ef /dev/fd/2 ]; then
        return 0
      fi
    done
    return 1
  }
  if { [ /dev/fd/1 -ef /dev/fd/2 ] && [ ! -t 2 ]; } || { [ -f /dev/fd/2 ] && named_by_an_option "$@"; }; then
    log=$checkout/build/release/build.log
    mkdir -p "$checkout/build/release"
    if ! build >"$log" 2>&1; then
      echo "run.sh: the build failed; the end of $log:" >&2
      tail -n 20 "$log" >&2
      exit 1
    fi
  else
    build >&2
  fi
  binary=$checkout/build/release/corvane
fi
exec "${CORVANE_LAUNCHER:-$(dirname "$binary")/corvane-launch}" "$binary" "$@"
