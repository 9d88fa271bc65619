#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing need.
set -eu
sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo_ apt-get update -qq
$sudo_ apt-get install -y -qq --no-install-recommends \
  g++ cmake ninja-build pkg-config \
  qt6-base-dev libqt6printsupport6 qt6-qpa-plugins libgl-dev libx11-dev libxcb-xkb-dev \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libpcap-dev libseccomp-dev \
  libcap2-bin iproute2 util-linux procps psmisc tcpdump tshark \
  xvfb xdotool x11-utils imagemagick fonts-dejavu-core fonts-liberation \
  desktop-file-utils appstream dpkg-dev fakeroot file strace openbox xclip \
  clang-14 libclang-rt-14-dev libfuzzer-14-dev \
  python3 python3-pyatspi at-spi2-core dbus dbus-x11 \
  passwd >/dev/null
