#!/usr/bin/env bash
# Installs every Debian package the phone needs to build, run and test.
# Packages already installed are skipped, so running it again costs a second.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config clang-format
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev libqt6svg6
  libjpeg62-turbo-dev libopus-dev libspeexdsp-dev libpulse-dev libavahi-client-dev libdbus-1-dev
  libpipewire-0.3-dev # voice through PipeWire's own protocol where it has the sound
  libgtest-dev libgmock-dev libbenchmark-dev libyuv-dev
  libsodium-dev libsrtp2-dev # private calls (libsrtp2: the benchmark that compares voice sealing with SRTP)
  # run time: ring tones, sound server, discovery
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
  pulseaudio pulseaudio-utils avahi-daemon avahi-utils dbus python3
  # measurements: the desktop's other sound server, and a loaded machine (bench/voice)
  pipewire pipewire-pulse wireplumber stress-ng
  # test environment: screen, sound files, namespaces
  fonts-liberation2
  xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core sox lame iproute2
  nftables # a lossy link between two namespaces, and counting what crosses it
  librsvg2-bin desktop-file-utils appstream lintian dpkg-dev file # desktop files, the package
  # the desktops the phone is tried on: Wayland (weston, Qt's Wayland plugin), an X11 window
  # manager (openbox), and a screen reader's view through AT-SPI
  weston qt6-wayland openbox at-spi2-core python3-pyatspi
  # fuzzing (optional builds): clang with libFuzzer
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
