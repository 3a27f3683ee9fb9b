#!/usr/bin/env bash
# Starts or stops the private sound servers the device tests use:
#  - PulseAudio with a null sink as default output and a loopback source fed
#    from that sink's monitor as default input (what plays can be recorded back);
#  - JACK with the dummy driver, a route for virtual MIDI ports.
# Usage: tests/audio-servers.sh start|stop
# With CDW_SOUND_DIR set (tests/run-tests.sh sets it), both servers are
# private to that folder (PULSE_RUNTIME_PATH, JACK_DEFAULT_SERVER), so
# several test runs on one machine never share or stop each other's servers,
# and nothing is written into the user's home.
set -u
# What JACK leaves in shared memory: the machine's registry of servers, and
# the user's metadata folder (a server removes it at its end, a client that
# found no server leaves it).
jack_files=(/dev/shm/jack-shm-registry "/dev/shm/jack_db-$(id -u)")

if [[ -n "${CDW_SOUND_DIR:-}" ]]; then
  mkdir -p "$CDW_SOUND_DIR/pulse" "$CDW_SOUND_DIR/home"
  # The servers' and clients' cookies and settings stay there too, out of
  # the user's own configuration.
  export HOME="$CDW_SOUND_DIR/home" XDG_CONFIG_HOME="$CDW_SOUND_DIR/home/.config"
  export PULSE_RUNTIME_PATH="$CDW_SOUND_DIR/pulse"
  export PULSE_STATE_PATH="$CDW_SOUND_DIR/pulse/state"
  export JACK_DEFAULT_SERVER="cdw-$(basename "$CDW_SOUND_DIR")"
  jack_pid_file="$CDW_SOUND_DIR/jackd.pid"
  jack_log="$CDW_SOUND_DIR/jackd.log"
  # "path device inode" of those files as this run found them, and of those
  # a run that stopped before it handed on, still in use.
  jack_before="$CDW_SOUND_DIR/jack-before"
  jack_made="$CDW_SOUND_DIR/jack-made"
else
  jack_pid_file=/tmp/cdw-jackd.pid
  jack_log=/tmp/cdw-jackd.log
fi

start_pulse() {
  command -v pulseaudio >/dev/null || { echo "audio-servers: no pulseaudio"; return 1; }
  pulseaudio --check 2>/dev/null && pulseaudio --kill 2>/dev/null
  pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 --disallow-exit -n \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=nullsink sink_properties=device.description=NullOut rate=48000" \
    --load="module-remap-source master=nullsink.monitor source_name=loopmic source_properties=device.description=LoopMic" \
    >/dev/null 2>&1
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || { echo "audio-servers: pulseaudio did not start"; return 1; }
  pactl set-default-sink nullsink
  pactl set-default-source loopmic
  echo "audio-servers: pulseaudio null sink ready"
}

start_jack() {
  command -v jackd >/dev/null || { echo "audio-servers: no jackd"; return 1; }
  export JACK_NO_START_SERVER=1
  jack_lsp >/dev/null 2>&1 && return 0
  local name_args=()
  [[ -n "${JACK_DEFAULT_SERVER:-}" ]] && name_args=(-n "$JACK_DEFAULT_SERVER")
  note_jack_files_before
  nohup jackd "${name_args[@]}" --no-realtime -d dummy -r 48000 -p 1024 >"$jack_log" 2>&1 &
  echo $! >"$jack_pid_file"
  for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
  jack_lsp >/dev/null 2>&1 || { echo "audio-servers: jackd did not start"; return 1; }
  echo "audio-servers: jackd dummy ready"
}

# The file's identity as /proc/*/maps gives it: "device inode", the device
# as major:minor in hexadecimal; nothing when there is no such file.
identity() {
  local major minor inode
  read -r major minor inode < <(stat -c '%Hd %Ld %i' "$1" 2>/dev/null) || return 0
  printf '%02x:%02x %s\n' "$major" "$minor" "$inode"
}

note_jack_files_before() {
  [[ -n "${jack_before:-}" ]] || return 0
  local file id
  : >"$jack_before"
  for file in "${jack_files[@]}"; do
    id=$(identity "$file")
    [[ -n "$id" ]] && echo "$file $id" >>"$jack_before"
  done
}

# Whether this run made the file, or was handed it.
ours() {
  local id
  id=$(identity "$1")
  [[ -n "$id" ]] && { ! grep -qsxF "$1 $id" "$jack_before" || grep -qsxF "$1 $id" "$jack_made"; }
}

# Whether a live process maps the file, or a file of the folder (a JACK
# server or client uses it): by device and inode, as a process of another
# mount namespace, or one holding an older file of that path, maps the path
# without this file.
in_use() {
  local ids="" file
  for file in "$1" "$1"/*; do
    [[ -f "$file" ]] && ids+="$(identity "$file")"$'\n'
  done
  [[ -n "$ids" ]] || return 1
  cat /proc/[0-9]*/maps 2>/dev/null | awk -v ids="$ids" '
    BEGIN { n = split(ids, list, "\n"); for (i = 1; i <= n; ++i) if (list[i] != "") wanted[list[i]] = 1 }
    ($4 " " $5) in wanted { found = 1; exit }
    END { exit !found }'
}

# Waits (up to 10 s) until process $1 has ended; a zombie has.
wait_ended() {
  for _ in $(seq 100); do
    [[ -z "$1" || "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" =~ ^Z?$ ]] && return 0
    sleep 0.1
  done
}

stop_all() {
  local pulse_pid="" jack_pid="" file run
  [[ -n "${CDW_SOUND_DIR:-}" ]] && pulse_pid=$(cat "$PULSE_RUNTIME_PATH/pid" 2>/dev/null)
  pulseaudio --kill >/dev/null 2>&1 || true
  if [[ -f "$jack_pid_file" ]]; then
    jack_pid=$(cat "$jack_pid_file")
    kill "$jack_pid" >/dev/null 2>&1 || true
    rm -f "$jack_pid_file"
  fi
  # Only then may the caller remove their folders: a PulseAudio daemon still
  # ending makes its runtime folder anew when it removes its pid file.
  wait_ended "$pulse_pid"
  wait_ended "$jack_pid"
  # JACK's files in shared memory that this run made go once no server or
  # client uses them any more; one still in use is handed to the runs still
  # going (the last of them removes it); others' files stay.
  if [[ -n "${jack_before:-}" && -f "$jack_before" ]]; then
    for file in "${jack_files[@]}"; do
      ours "$file" || continue
      if ! in_use "$file"; then
        rm -rf "$file"
      else
        for run in "$(dirname "$CDW_SOUND_DIR")"/*/jack-before; do
          [[ -f "$run" && "$run" != "$jack_before" ]] \
            && echo "$file $(identity "$file")" 2>/dev/null >>"${run%-before}-made"
        done
      fi
    done
    rm -f "$jack_before" "$jack_made"
  fi
}

case "${1:-}" in
  start) rc=0; start_pulse || rc=1; start_jack || rc=1; exit $rc ;;
  stop) stop_all ;;
  *) echo "usage: $0 start|stop"; exit 2 ;;
esac
