#!/usr/bin/env bash
# Installs what Quorlane needs to build, test and run on Debian 12.
# Idempotent: does nothing (and prints nothing) when every package is there.
set -euo pipefail

packages=(
  build-essential g++ cmake ninja-build pkg-config make git
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev
  libsdl2-dev
  qt6-base-dev qt6-multimedia-dev
  libgtest-dev libgmock-dev
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
