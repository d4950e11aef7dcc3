#!/usr/bin/env bash
# Starts the built player from a build folder.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR}
exec "$build/app/velmora"
