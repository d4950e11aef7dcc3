#!/usr/bin/env bash
# Time to first sound: Velmora's probe against its peers on loopback streams.
# Usage: bench/first_sound.sh [--build BUILD_DIR] [--runs N] [--cases a,b] [--players a,b]
exec /usr/bin/python3 "$(dirname "$0")/first_sound.py" "$@"
