#!/usr/bin/env bash
# Installs every system package needed to build, test, benchmark and run Zeltora
# on Debian 12 / Ubuntu. Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config ninja-build git
  # Qt 6 (widgets, multimedia, SVG icons) and the tools that generate code from .ui/.qrc
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev qt6-l10n-tools
  libqt6svg6 qt6-image-formats-plugins qt6-qpa-plugins libgl-dev libxkbcommon-dev
  # FFmpeg libraries and the command-line tools that make the test media
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev ffmpeg
  # subtitles: libass renders ASS/SSA with its styling and embedded fonts
  libass-dev
  # a private sound server with a null sink and its recorder (parec, pactl), for the
  # end-to-end sound test, which drives the player over MPRIS with gdbus
  pulseaudio pulseaudio-utils
  # a private session bus for the desktop-integration tests
  dbus dbus-x11 libglib2.0-bin
  # fonts: the interface is Chinese
  fonts-noto-cjk fontconfig
  # headless running, screenshots of a real window
  xvfb xauth imagemagick x11-utils
  # sanitizers, fuzzing and the valgrind run of the frame path
  clang libclang-rt-14-dev valgrind
  # ThreadSanitizer's runtime for GCC (the threads stage)
  libtsan2
  # reference player for the benchmarks
  mpv
  # test helpers
  python3
  # Debian package: dpkg-shlibdeps and file fill in the package's library dependencies;
  # lintian and desktop-file-validate check the package and its menu entry in the tests
  dpkg-dev file lintian desktop-file-utils
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
