#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Ambrano needs.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6dbus6 libqt6network6
  libgl-dev libvulkan-dev libxkbcommon-dev
  libsodium-dev libarchive-dev zip unzip
  libx11-dev libxrandr-dev libxtst-dev libxext-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xserver-xorg-core xserver-xorg-video-dummy xvfb x11-xserver-utils x11-utils x11-apps
  xdotool trayer imagemagick xclip
  dbus dbus-x11
  fonts-noto-core fonts-noto-color-emoji fonts-dejavu-core fonts-inter
  gammastep procps psmisc ccache python3 libglib2.0-bin
  libwayland-dev libwayland-bin qt6-wayland sway xwayland wlsunset grim
  tzdata
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
echo "setup: installing ${#missing[@]} Debian packages: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
