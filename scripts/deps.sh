#!/usr/bin/env bash
# Installs the Debian packages the panel needs to build, test and run, and
# the one npm package the tests use, skipping those already present.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-serialport-dev libfontconfig-dev
  # The web page over HTTPS: its certificate checked and made by libcrypto;
  # the tests make a CA and certificates with the openssl command.
  libssl-dev openssl
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
  # The LAN's own tools against the faces: lxi-tools (discover, scpi,
  # benchmark), xmllint for the identification against the LXI schema.
  lxi-tools libxml2-utils
  # The core built for Windows, its tests run under Wine (docs/windows.md):
  # MinGW-w64 with posix threads, Wine, googletest's sources for that
  # target; script gives the console test its pseudo-terminal.
  g++-mingw-w64-x86-64-posix wine64 googletest bsdutils
  # The generator as a Tango device: libtango, and PyTango as its client.
  libtango-dev python3-tango
)
# A Tango database of the tests' own: DataBaseds and tango_admin, on the
# MariaDB server and client programs alone (the tests start and remove it).
# Installed with services kept from starting: no system-wide database is
# made or run.
database=(tango-db dbconfig-no-thanks mariadb-server-core mariadb-client-core)
# axe-core, for the pages' accessibility, comes from npm: Debian's npm
# unless the machine already has one (a Node.js of its own brings it).
command -v npm >/dev/null || packages+=(npm)
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_database < <(missing_of "${database[@]}")
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [ $((${#missing[@]} + ${#missing_database[@]})) -gt 0 ]; then
  # Tango's questions answered first: the packages set up no database.
  printf '%s\n' "tango-common tango-common/tango-host string 127.0.0.1:10000" \
    "tango-db tango-db/dbconfig-install boolean false" | $sudo debconf-set-selections
  $sudo apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ ${#missing_database[@]} -gt 0 ]; then
  echo "Installing, no service started: ${missing_database[*]}"
  # invoke-rc.d asks policy-rc.d; 101 is "not allowed". One already there
  # is the machine's own and is left to decide.
  policy=/usr/sbin/policy-rc.d
  if [ -e "$policy" ]; then
    $sudo apt-get install -y -qq --no-install-recommends "${missing_database[@]}"
  else
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
    status=0
    $sudo apt-get install -y -qq --no-install-recommends "${missing_database[@]}" || status=$?
    $sudo rm -f "$policy"
    [ "$status" -eq 0 ] || exit "$status"
  fi
fi

# The version tests/clients/axe/package.json pins, into its node_modules,
# where clients.web finds it.
axe="$(dirname "$0")/../tests/clients/axe"
wanted=$(sed -n 's/.*"axe-core": "\(.*\)".*/\1/p' "$axe/package.json")
have=$(sed -n 's/^  "version": "\(.*\)",$/\1/p' "$axe/node_modules/axe-core/package.json" 2>/dev/null || true)
if [ "$have" != "$wanted" ]; then
  echo "Installing axe-core $wanted (npm)"
  npm install --prefix "$axe" --no-package-lock --no-audit --no-fund --silent
fi
