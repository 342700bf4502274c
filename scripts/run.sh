#!/usr/bin/env bash
# Builds the instrument (Release, in the checkout's build/release) and runs it
# on the host platform, from the folder it was called in: every path among the
# options (--root, --audio-out, --panel-script, ...) is the caller's.
# Options are the host's (see --help); with none it runs in real time until
# Ctrl-C, with its data in the default folder and its output in output.wav there.
#
# In real time it is the instrument's launcher, as on the board: this start is
# the power-on (a stale .host/corvane-exit-code in the data root is removed);
# after each run the run's exit status goes into that file, which the next run
# reads, and the instrument starts again with the same options (all but
# --panel-script: the script stands for the player's hands, and plays in the
# first run only), unless the
# status was 3 (power-off: run.sh ends with status 0), run.sh itself was
# stopped (Ctrl-C, SIGTERM or SIGHUP: passed on to the instrument, which saves
# and exits; no restart), or the run was refused at its start (a missing
# file among the options, a data root in use: run.sh ends with its status).
# A run killed by a signal has the status 128 + its number. More than 5
# restarts within 30 seconds stop run.sh. Before a restart the last run's
# output file is kept under a numbered name (output.wav -> output-1.wav, ...),
# so output.wav is always the latest run's (an output reached through a
# symbolic link keeps its target's audio beside the target). The instrument
# ends (and saves) when run.sh dies. However often a stop comes, the first
# one is passed on and the later ones are ignored, so that they cut nothing
# of run.sh's own short.
# Each run it starts has CORVANE_LAUNCHER_RUN set to its number (1, 2, 3, ...).
# Offline runs, runs bounded by --blocks/--seconds, --help and wrong options
# run once, and run.sh ends with their status.
#
# CORVANE_BINARY=PATH runs that program instead, with no dependency check and
# no build (the tests point it at the program they have built).
set -euo pipefail

# run.sh's own lines go to a copy of the console's descriptor: while the
# instrument runs, bash's standard error is closed off (see the restart
# loop). Bash picks a free number for it, so no descriptor the caller hands
# down (an input given as <(command) is one) is taken over.
exec {console}>&2
say() { echo "run.sh: $*" >&"$console" || true; }

# What a launcher tells the runs it starts; an outer one's says nothing here.
unset CORVANE_LAUNCHER_PID CORVANE_STARTED_FILE CORVANE_STATUS_FILE CORVANE_LAUNCHER_RUN

binary=${CORVANE_BINARY:-}
if [ -z "$binary" ]; then
  checkout=$(cd "$(dirname "$0")/.." && pwd)
  "$checkout/scripts/deps.sh"
  # Through ccache when it is there (deps.sh installs it), as the tests build.
  launcher=()
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  (cd "$checkout" &&
     cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BENCH=OFF "${launcher[@]}" >/dev/null &&
     cmake --build build/release --target corvane)
  binary=$checkout/build/release/corvane
fi

# What the program will make of its options, read as its getopt_long does
# (long options as "--name value" or "--name=value", unique abbreviations,
# operands skipped, "--" ends them): the data root, and whether this is a run
# the launcher repeats.
long_options=(root: offline blocks: seconds: audio-out: audio-in: midi-port: panel-script: osc-listen:
              display-out: help)
root=
output=
repeat=yes
starts=yes
args=("$@")
again=()  # the options of a restart: all but the panel script
i=0
while [ $i -lt ${#args[@]} ]; do
  at=$i
  arg=${args[$i]}
  i=$((i + 1))
  case $arg in
  --) i=$at; break ;;
  --*)
    name=${arg#--}
    name=${name%%=*}
    match=
    for option in "${long_options[@]}"; do
      if [ "${option%:}" = "$name" ]; then match=$option; break; fi
      if [[ ${option%:} == "$name"* ]]; then
        if [ -n "$match" ]; then match=ambiguous; else match=$option; fi
      fi
    done
    value=
    if [ -z "$match" ] || [ "$match" = ambiguous ]; then
      starts=no; break
    elif [[ $match == *: ]]; then
      if [[ $arg == *=* ]]; then
        value=${arg#*=}
      elif [ $i -lt ${#args[@]} ]; then
        value=${args[$i]}; i=$((i + 1))
      else
        starts=no; break
      fi
    elif [[ $arg == *=* ]]; then
      starts=no; break
    fi
    case $match in
    root:) root=$value ;;
    audio-out:) output=$value ;;
    offline | blocks: | seconds:) repeat=no ;;
    help) starts=no; break ;;
    esac
    [ "$match" = panel-script: ] || again+=("${args[@]:$at:$((i - at))}")
    ;;
  -?*) starts=no; break ;;  # -h, or a short option the program does not know
  *)
    if [ -n "${POSIXLY_CORRECT+set}" ]; then i=$at; break; fi
    again+=("$arg")
    ;;
  esac
done
again+=("${args[@]:$i}")

if [ $starts = no ]; then
  exec "$binary" "$@" {console}>&-
fi

# The data root as the program picks it.
if [ -z "$root" ]; then
  if [ -n "${XDG_DATA_HOME:-}" ]; then
    root=$XDG_DATA_HOME/corvane
  else
    home=${HOME:-}
    root=${home:-/tmp}/.local/share/corvane
  fi
fi
while [ ${#root} -gt 1 ] && [[ $root == */ ]]; do root=${root%/}; done
# The root's folder of the host's own files (the board keeps them in /tmp),
# which the instrument's file browser does not list.
host_dir=$root/.host
exit_file=$host_dir/corvane-exit-code
midi_link=$host_dir/midi-port
# The output as the program picks it (--audio-out is the caller's path).
[ -n "$output" ] || output=$root/output.wav

# The power-on.
if ! rm -f -- "$exit_file" 2>/dev/null; then
  say "cannot remove $exit_file at the power-on; starting anyway"
fi
if [ $repeat = no ]; then
  exec "$binary" "$@" {console}>&-
fi

# A stop is passed on to the instrument once; `trapped` tells the loop that
# a wait may have been cut short by it. From then on run.sh ignores stops,
# and so does whatever it starts (a command inherits an ignored signal):
# a Ctrl-C pressed again and again reaches the instrument, which is
# stopping already, but cuts none of run.sh's own steps short.
child=
stop=
stop_number=
trapped=
pass_on() {
  trapped=yes
  [ -z "$stop" ] || return 0
  trap '' INT TERM HUP
  stop=$1
  stop_number=$2
  [ -z "$child" ] || kill -s "$1" "$child" 2>/dev/null || true
}
trap 'pass_on INT 2' INT
trap 'pass_on TERM 15' TERM
trap 'pass_on HUP 1' HUP

# Runs a command of run.sh's own; one that a stop killed is run again, now
# that stops are ignored (each of them may be run twice).
own() {
  local s=0
  "$@" || s=$?
  [ $s -gt 128 ] && [ -n "$stop" ] || return $s
  "$@"
}

# Moves the finished output file aside to the first free numbered name in
# its folder (take.wav -> take-1.wav, take-2.wav, ...), so that the next run
# does not write over it. Only a regular file: a FIFO or a device stays. An
# output reached through a symbolic link keeps the link: its target is
# moved aside in the target's folder, and the next run writes a new one.
keep_output() {
  local file=$output
  if [ -L "$file" ]; then
    file=$(readlink -f -- "$output" 2>/dev/null) || file=
  fi
  [ -n "$file" ] && [ -f "$file" ] && [ ! -L "$file" ] || return 0
  local name=${file##*/} stem ext='' n=1 kept
  stem=$name
  case $name in ?*.*) stem=${name%.*}; ext=.${name##*.} ;; esac
  kept=${file%"$name"}$stem-$n$ext
  while [ -e "$kept" ] || [ -L "$kept" ]; do
    n=$((n + 1))
    kept=${file%"$name"}$stem-$n$ext
  done
  own mv -n -- "$file" "$kept" 2>/dev/null || true
  if [ ! -e "$file" ] && [ -f "$kept" ]; then
    say "the last run's audio is kept in $kept; the next run writes $output"
  else
    say "cannot keep the last run's audio: the next run writes over $output"
  fi
}

# Each run is told a file to create once its start is complete (its stop
# handlers in place): a run that fails without it was refused at the start.
# And a file for its exit status: bash loses the status of a child it reaps
# just as a trap cuts its wait short. They live in a temporary folder, or,
# where none can be made, in the root's host folder; without either a run
# that fails ends run.sh, since a refused start cannot be told from a crash.
state=$(mktemp -d 2>/dev/null) || {
  state=$( { [ -d "$host_dir" ] || mkdir -p -- "$host_dir"; } 2>/dev/null &&
           mktemp -d "$host_dir/launcher.XXXXXX" 2>/dev/null) || state=
  if [ -n "$state" ]; then
    say "cannot make a temporary folder in ${TMPDIR:-/tmp}: the launcher's notes go to $state"
  else
    say "cannot make a temporary folder (in ${TMPDIR:-/tmp} or $host_dir): a run that fails is not started again"
  fi
}
trap 'trap "" INT TERM HUP; [ -z "$state" ] || rm -rf -- "$state"' EXIT
# The instrument ends with this process (it follows its parent).
export CORVANE_LAUNCHER_PID=$$

# Ends run.sh once a stop has come, with the last run's status.
end_if_stopped() {
  [ -n "$stop" ] || return 0
  say "stopped by SIG$stop (last exit code $status)"
  exit "$status"
}

run=0
status=0
restarts=()
# In the loop bash's own standard error goes nowhere: it would report an
# instrument killed by a signal in its words ("Segmentation fault" and the
# command), at a moment of its choosing. run.sh says it in its own line, and
# the instrument gets the console from that copy.
while :; do
  if [ -n "$stop" ] && [ $run -eq 0 ]; then
    say "stopped by SIG$stop before the instrument started"
    exit $((128 + stop_number))
  fi
  end_if_stopped
  run=$((run + 1))
  started=${state:+$state/started-$run}
  noted=${state:+$state/status-$run}
  export CORVANE_STARTED_FILE=$started CORVANE_STATUS_FILE=$noted
  export CORVANE_LAUNCHER_RUN=$run
  # The first run plays the panel script; a restart starts as the board does.
  if [ $run -eq 1 ]; then options=("$@"); else options=("${again[@]}"); fi
  # The instrument takes SIGINT from the terminal itself, as when run alone.
  (trap - INT QUIT TERM HUP; exec "$binary" "${options[@]}" 2>&"$console" {console}>&-) <&0 &
  child=$!
  [ -z "$stop" ] || kill -s "$stop" "$child" 2>/dev/null || true
  # A stop ends a wait early (status 128 + its number): wait again until a
  # wait ends with no stop during it. After such a wait bash's status may be
  # lost: the instrument's own note of its exit is the status then; without
  # one (killed by a signal), wait's, or if bash lost that, the stop's.
  cut=
  while :; do
    trapped=
    status=0
    wait "$child" || status=$?
    [ -n "$trapped" ] || break
    cut=yes
  done
  child=
  if [ -n "$cut" ]; then
    note=
    if [ -n "$noted" ] && [ -f "$noted" ]; then read -r note <"$noted" || true; fi
    if [[ $note =~ ^[0-9]+$ ]]; then
      status=$note
    elif [ "$status" -lt 0 ] || [ "$status" -gt 255 ]; then
      status=$((128 + stop_number))
    fi
  fi
  # The port's link led to this run's terminal, which a crash leaves to
  # whoever opens it next. A run that did not start never made it (the
  # link may be another instrument's, one that holds the root).
  if [ -n "$started" ] && [ -e "$started" ] && [ -L "$midi_link" ]; then
    own rm -f -- "$midi_link" || true
  fi
  if ! { { [ -d "$host_dir" ] || own mkdir -p -- "$host_dir"; } && echo "$status" >"$exit_file"; } 2>/dev/null; then
    say "cannot write $exit_file"
  fi
  end_if_stopped
  if [ "$status" -eq 3 ]; then
    say "power-off"
    exit 0
  fi
  if [ "$status" -ne 0 ] && [ -z "$state" ]; then
    say "the instrument ended with exit code $status; not starting it again (no temporary folder)"
    exit "$status"
  fi
  if [ -n "$started" ] && [ ! -e "$started" ] && [ "$status" -ge 1 ] && [ "$status" -le 127 ]; then
    say "the instrument did not start (exit code $status); not starting it again"
    exit "$status"
  fi
  if [ "$status" -gt 128 ] && signal=$(kill -l "$status" 2>/dev/null); then
    say "the instrument was killed by SIG$signal (exit code $status)"
  fi
  now=$SECONDS
  recent=()
  for t in "${restarts[@]}"; do
    [ $((now - t)) -ge 30 ] || recent+=("$t")
  done
  restarts=("${recent[@]}" "$now")
  if [ ${#restarts[@]} -gt 5 ]; then
    say "more than 5 restarts within 30 seconds, giving up (last exit code $status)"
    [ "$status" -ne 0 ] || status=1
    exit "$status"
  fi
  keep_output
  say "restarting (last exit code $status)"
done 2>/dev/null
