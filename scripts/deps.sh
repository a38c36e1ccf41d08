#!/usr/bin/env bash
# Installs the Debian 12 packages Velmora needs to build, run and test.
# Does nothing (and prints nothing) when everything is already there.
set -euo pipefail

# The one list of packages. Keep it sorted by purpose, one group a line.
PACKAGES=(
  # build
  build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libmpg123-dev libtag1-dev
  # run: libout123 and its output modules (shipped in the mpg123 package)
  libout123-0 mpg123 qt6-qpa-plugins fonts-wqy-microhei qt6-translations-l10n
  # demo tracks and test fixtures
  sox libsox-fmt-mp3 lame python3
  # end-to-end tests: virtual display, tray host, session bus, null audio sink, screenshots
  xvfb xauth xdotool x11-utils trayer dbus dbus-x11 pulseaudio pulseaudio-utils imagemagick
  # end-to-end tests: widgets read through the accessibility bus; a window manager for minimising
  at-spi2-core python3-pyatspi openbox
  # end-to-end tests: MPRIS clients
  playerctl libglib2.0-bin
  # installed files and the Debian package: checked by the tests
  desktop-file-utils appstream lintian
  # unit tests: a disk that stops answering (a FUSE file system)
  libfuse3-dev
  # sanitizer and fuzz builds
  clang libclang-rt-14-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$pkg")
done
((${#missing[@]} == 0)) && exit 0

echo "deps.sh: installing ${missing[*]}" >&2
as_root=()
if ((EUID != 0)); then
  if ! command -v sudo >/dev/null; then
    echo "deps.sh: need root (or sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq -o DPkg::Lock::Timeout=300
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq -o DPkg::Lock::Timeout=300 "${missing[@]}" </dev/null
