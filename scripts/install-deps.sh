#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only those that are missing.
# Usage: scripts/install-deps.sh run|test|LIST_FILE
# (a list file holds one package a line; the benchmarks keep their own)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
case "${1:-}" in
    run) lists=("$here"/packages/{build,run}.txt) ;;
    test) lists=("$here"/packages/{build,run,test}.txt) ;;
    *)
        [[ -f "${1:-}" ]] || { echo "usage: $0 run|test|LIST_FILE" >&2; exit 2; }
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
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
