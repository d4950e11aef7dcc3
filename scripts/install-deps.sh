#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only those that are missing.
# Usage: scripts/install-deps.sh run|test
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
case "${1:-}" in
    run) lists=(build run) ;;
    test) lists=(build run test) ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

wanted=()
for list in "${lists[@]}"; do
    while read -r pkg; do
        [[ -z "$pkg" || "$pkg" == \#* ]] && continue
        wanted+=("$pkg")
    done <"$here/packages/$list.txt"
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
