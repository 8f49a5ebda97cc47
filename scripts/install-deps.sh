#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need. Idempotent: does
# nothing when everything is present; runs apt-get update only when something is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang pkg-config python3   # build tools; clang for fuzzing
  libgtest-dev libbenchmark-dev                   # tests and benchmarks
  libwxgtk3.2-dev                                 # the windows
  libserialport-dev                               # serial port listing
  libstb-dev                                      # BMP decoding
  libusb-1.0-0-dev                                # the device library for a real USB device (libHaldenUSB-usb)
  umockdev libumockdev-dev                        # an emulated USB device for that library's tests
  libspandsp-dev                                  # G.726 ADPCM for the voice encoder
  xvfb xauth fonts-arphic-uming                   # window tests under a virtual display
  openbox                                         # and under a window manager
  libx11-dev                                      # window tests read their screenshots from the X display
  srecord socat sox lrzsz ffmpeg                  # independent tools the tests compare with
  espeak-ng                                       # the demo package's voice prompts (speech at build time)
  alsa-utils                                      # recorded speech (/usr/share/sounds/alsa) for the voice encoder's quality tests
  help2man dpkg-dev file lintian                  # man pages; the .deb (cpack, dpkg-shlibdeps) and its check
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
