# Sourced by ./test: makes sure a PulseAudio server with the devices the device tests use is running.
# audio_server_start: when no server answers, starts a private one (its own runtime folder, a null sink
# "null", the sine source "sine_input") and exports PULSE_SERVER for the tests; when one answers, loads
# into it only what it lacks. audio_server_stop undoes exactly that: unloads the modules it loaded and
# stops the server only when it started it.
# The test devices: sink "null" (without rewinds, so that its monitor "null.monitor" hears every byte
# played once, in order) and "sine_input", a 440 Hz sine.

audio_server_dir=""
audio_server_pid=""
audio_server_modules=()

audio_server_load() {
    local id
    if id=$(pactl load-module "$@" 2>/dev/null); then
        audio_server_modules+=("$id")
    else
        echo "audio-server: could not load $*" >&2
    fi
}

audio_server_has() {  # KIND NAME
    pactl list short "$1" 2>/dev/null | cut -f2 | grep -qx "$2"
}

audio_server_start() {
    if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
        echo "audio-server: pulseaudio and pactl are needed for the device tests" >&2
        return 1
    fi
    if ! pactl info >/dev/null 2>&1; then
        audio_server_dir=$(mktemp -d "${TMPDIR:-/tmp}/sonavik-pulse.XXXXXX")
        # Root may run a user-mode server; the daemon warns about it, and that is all.
        XDG_RUNTIME_DIR="$audio_server_dir" HOME="$audio_server_dir" pulseaudio -D --exit-idle-time=-1 \
            --system=false --disallow-exit -n --log-target=file:"$audio_server_dir/log" \
            --load="module-null-sink sink_name=null norewinds=1" --load=module-native-protocol-unix 2>/dev/null || true
        export PULSE_SERVER="unix:$audio_server_dir/pulse/native"
        local tries=0
        until pactl info >/dev/null 2>&1; do
            tries=$((tries + 1))
            if [ "$tries" -gt 50 ]; then
                echo "audio-server: the private PulseAudio server did not start (log: $audio_server_dir/log)" >&2
                return 1
            fi
            sleep 0.1
        done
        audio_server_pid=$(cat "$audio_server_dir/pulse/pid" 2>/dev/null || true)
    fi
    audio_server_has sinks null || audio_server_load module-null-sink sink_name=null norewinds=1
    audio_server_has sources sine_input || audio_server_load module-sine-source source_name=sine_input frequency=440
    # A private server records from the sine and plays into the null sink by default.
    if [ -n "$audio_server_dir" ]; then
        pactl set-default-source sine_input || true
        pactl set-default-sink null || true
    fi
}

audio_server_stop() {
    local id
    for id in "${audio_server_modules[@]}"; do
        pactl unload-module "$id" 2>/dev/null || true
    done
    audio_server_modules=()
    if [ -n "$audio_server_pid" ]; then
        kill "$audio_server_pid" 2>/dev/null || true
        local tries=0
        while kill -0 "$audio_server_pid" 2>/dev/null && [ "$tries" -lt 50 ]; do
            tries=$((tries + 1))
            sleep 0.1
        done
        audio_server_pid=""
    fi
    if [ -n "$audio_server_dir" ]; then
        rm -rf "$audio_server_dir"
        unset PULSE_SERVER
        audio_server_dir=""
    fi
}
