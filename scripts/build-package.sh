#!/usr/bin/env bash
# Builds the Debian package of the working tree in OUT_DIR and prints the path of the .deb.
# dpkg-buildpackage writes its results next to the source folder and builds inside it, so it
# runs on a copy in OUT_DIR. DEB_BUILD_OPTIONS defaults to no tests, one job a core.
# Usage: scripts/build-package.sh OUT_DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:?usage: $0 OUT_DIR}"
out=$(cd "$1" && pwd)
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -SVersion)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
src="$out/velmora-$version"

rm -rf "$src" "$out"/velmora_"$version"_* "$out"/velmora-dbgsym_"$version"_*
mkdir "$src"
tar -C "$root" --exclude='./build*' --exclude='./obj-*' --exclude=./.git --exclude=./.cache \
    --exclude=__pycache__ --exclude='*.pyc' -cf - . | tar -C "$src" -xf -
export DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-"nocheck parallel=$(nproc 2>/dev/null || echo 2)"}
if ! (cd "$src" && dpkg-buildpackage -b -us -uc) >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    echo "package build failed; the whole log: $out/build.log" >&2
    exit 1
fi
rm -rf "$src"
echo "$out/velmora_${version}_$arch.deb"
