#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Quick when everything is there already: apt is only called for what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  # sound output: SDL2's audio subsystem (its disk and dummy drivers serve the tests)
  libsdl2-dev
  libass-dev
  clang libclang-rt-14-dev
  ffmpeg espeak-ng time python3
  # the locale definitions, from which a test makes a comma-decimal locale of its own
  locales
  # video player: libmpv drawn in a Qt 6 widget; Xvfb and Mesa for the tests of its OpenGL path
  libmpv-dev qt6-base-dev libqt6opengl6-dev xvfb xauth libgl1-mesa-dri
  # the window: its artwork is SVG; Chinese fonts (a Hei and a Kai face); the manual opens with
  # the desktop's default handler; the real-window tests drive it with xdotool
  qt6-svg-dev fonts-wqy-microhei fonts-arphic-ukai xdg-utils xdotool
  # the check of what the user sees and hears: the screen read through Xlib, the sound played
  # into a PulseAudio null sink, mpv alone as the floor
  libx11-dev pulseaudio mpv
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
