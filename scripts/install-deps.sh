#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only those that are missing.
# Usage: scripts/install-deps.sh run|test|package|LIST_FILE
# (a list file holds one package a line; the benchmarks keep their own). test and package also
# install the build dependencies debian/control declares.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
debian_build_deps=false
case "${1:-}" in
    run) lists=("$here"/packages/{build,run}.txt) ;;
    test) lists=("$here"/packages/{build,run,test,package}.txt) debian_build_deps=true ;;
    package) lists=("$here"/packages/{build,package}.txt) debian_build_deps=true ;;
    *)
        [[ -f "${1:-}" ]] || { echo "usage: $0 run|test|package|LIST_FILE" >&2; exit 2; }
        lists=("$1")
        ;;
esac

wanted=()
for list in "${lists[@]}"; do
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        wanted+=("$pkg")
    done <"$list"
done

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The lists above carry dpkg-dev, whose check reads debian/control itself.
source_dir=$(dirname "$here")
if $debian_build_deps && ! (cd "$source_dir" && dpkg-checkbuilddeps 2>/dev/null); then
    echo "Installing the build dependencies in debian/control"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get build-dep -y -qq --no-install-recommends "$source_dir"
fi
