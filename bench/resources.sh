#!/usr/bin/env bash
# CPU time and peak RSS for 20 s of a 320 kbit/s stream: Velmora's probe against its peers.
# Usage: bench/resources.sh [--build BUILD_DIR] [--runs N] [--players a,b] [--json FILE]
exec /usr/bin/python3 "$(dirname "$0")/resources.py" "$@"
