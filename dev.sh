#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   ./dev.sh run    install what is missing, build in Release, start the player
#   ./dev.sh test   install what is missing, build, run the whole test suite
#   ./dev.sh package  install what is missing, build the Debian package, check it with lintian
set -euo pipefail
cd "$(dirname "$0")"

jobs=$(nproc 2>/dev/null || echo 2)

case "${1:-}" in
    run)
        scripts/install-deps.sh run
        cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
        cmake --build build/release -j"$jobs"
        exec scripts/run-player.sh build/release
        ;;
    test)
        scripts/install-deps.sh test
        cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=ON
        cmake --build build/test -j"$jobs"
        cd build/test
        # Two tests a core: most of them wait on servers' deadlines and real-time sound. The
        # ones that keep cores busy say so (PROCESSORS) and start first (COST); the ones that
        # time the real program wait for them (DEPENDS).
        exec ctest -j"$((jobs * 2))" --output-on-failure --timeout 600
        ;;
    package)
        scripts/install-deps.sh package
        deb=$(scripts/build-package.sh build/package)
        lintian --fail-on error,warning "${deb%.deb}.changes"
        echo "$deb"
        ;;
    *)
        echo "usage: $0 run|test|package" >&2
        exit 2
        ;;
esac
