#!/usr/bin/env bash
# Installs the Debian packages the panel needs to build, test and run,
# skipping those already present.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-serialport-dev libfontconfig-dev
  xvfb xauth xdotool x11-utils imagemagick fonts-noto-cjk
  desktop-file-utils appstream
  # The start-up bench's X probe.
  libx11-dev libxext-dev time
  # The packaging tests: lintian, hardening-check from devscripts, and
  # systemd-analyze for the user unit.
  lintian devscripts systemd
  # Clients that drive the SCPI server as automation scripts would.
  python3-pyvisa python3-pyvisa-py python3-pymeasure
  # A one-shot from the shell, as the docs show it; the panel's link to a
  # generator on another machine.
  socat
  # A generator on another machine: its serial port offered over TCP.
  ser2net
  # What a web page or a web client sends to the raw socket, for its guard.
  curl chromium
  # The web page's tests: a real browser driven by Selenium, and Qt's own
  # and wsproto's WebSocket clients.
  qt6-websockets-dev chromium-driver python3-selenium python3-wsproto
  # VXI-11: ONC RPC's XDR, and rpcbind where clients find it; the VXI-11
  # tests run one of their own in a network namespace, loopback brought up.
  libtirpc-dev rpcbind
  iproute2
  # Announcing the generators by DNS-SD through the system's Avahi; the
  # tests run a daemon of their own on a private D-Bus in a namespace.
  avahi-daemon avahi-utils libavahi-client-dev dbus
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
