#!/usr/bin/env bash
# Starts the built player from a build folder. For as long as the player runs, a short generated
# demo stream is served on 127.0.0.1, so that a newcomer with no stream at hand (or no internet)
# has something to paste. The player starts even if the demo server cannot.
# Usage: scripts/run-player.sh BUILD_DIR
set -uo pipefail

build=${1:?usage: $0 BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
player="$build/app/velmora"
server_script="$root/tools/stream_server/stream_server.py"
server_ready_timeout_s=10 # the first start makes the demo media, in about a second
demo_stream_max_s=86400

if [[ ! -x "$player" ]]; then
    echo "找不到播放器程序 / player not found: $player" >&2
    exit 1
fi

work=$(mktemp -d)
server_pid=""
player_pid=""
stop_server() {
    if [[ -n "$server_pid" ]]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        server_pid=""
    fi
}
# The player runs in the background so that a signal to this script is handled at once, and
# passed on, instead of waiting for the player to end first.
stop_player() {
    if [[ -n "$player_pid" ]]; then
        kill -TERM "$player_pid" 2>/dev/null
        wait "$player_pid" 2>/dev/null
        player_pid=""
    fi
}
trap 'stop_player; stop_server; rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# Debian's own interpreter first: a version manager's shim on PATH runs python as its child,
# and the pid kept here would then not be the server's.
python=/usr/bin/python3
[[ -x "$python" ]] || python=$(command -v python3 || true)

start_demo_server() {
    if [[ -z "$python" ]]; then
        echo "python3 is missing" >"$work/server.log"
        return 1
    fi
    "$python" "$server_script" --port 0 --port-file "$work/port" --media-dir "$build/demo-media" \
        --max-response-s "$demo_stream_max_s" >/dev/null 2>"$work/server.log" &
    server_pid=$!
    local deadline=$((SECONDS + server_ready_timeout_s))
    while ((SECONDS < deadline)); do
        [[ -s "$work/port" ]] && return 0
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    stop_server
    return 1
}

if start_demo_server; then
    port=$(<"$work/port")
    cat <<EOF

  ┌──────────────────────────────────────────────────────────────────────┐
    演示音频流已在本机启动。把下面的地址粘贴到播放器的地址框中，然后按“播放”：
    A demo stream is running on this computer. Paste this address into
    the player's address box and press 播放 (Play):

        http://127.0.0.1:$port/demo

    (关闭播放器时演示流随之停止 / it stops when the player closes)
  └──────────────────────────────────────────────────────────────────────┘

EOF
else
    echo "演示音频流未能启动，播放器照常启动 / the demo stream could not start; starting the player anyway:" >&2
    sed 's/^/    /' "$work/server.log" >&2
fi

"$player" &
player_pid=$!
wait "$player_pid"
status=$?
player_pid=""
exit "$status"
