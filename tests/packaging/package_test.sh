#!/usr/bin/env bash
# The Debian packages as a user gets them: built by CPack from the build
# folder, unpacked with dpkg-deb, their files checked and programs started.
#   package_test.sh deb BUILD_DIR WORK          build and unpack into WORK
#   package_test.sh layout WORK VERSION HAS_PANEL
#   package_test.sh depends WORK [PACKAGE]
#   package_test.sh desktop WORK HAS_PANEL
#   package_test.sh metainfo WORK HAS_PANEL
#   package_test.sh man WORK [PACKAGE]
#   package_test.sh lintian WORK FORTIFIED [PACKAGE]
#   package_test.sh hardening WORK FORTIFIED [PACKAGE]
#   package_test.sh panel WORK HAS_PANEL
#   package_test.sh wm_class WORK HAS_PANEL
#   package_test.sh sim_help WORK
#   package_test.sh sim_run WORK
#   package_test.sh scpi_run WORK HAS_PANEL
#   package_test.sh systemd WORK HAS_PANEL
#   package_test.sh tango_layout WORK VERSION
#   package_test.sh tango_run WORK
#   package_test.sh destdir BUILD_DIR WORK HAS_PANEL
# PACKAGE is talmir880 unless named (talmir880-tango).
set -euo pipefail

readonly app_id=io.github.talmir880.Panel
readonly skip=77  # SKIP_RETURN_CODE of these tests
readonly icon_sizes=(16 24 32 48 64 128 256)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

need() {
  command -v "$1" >/dev/null || fail "$1 not found (scripts/deps.sh installs it)"
}

expect_file() {
  [ -f "$1" ] || fail "missing $1"
}

# The files every install holds, the panel's only when it was built.
check_tree() {
  local root=$1 has_panel=$2
  expect_file "$root/usr/bin/talmir880-sim"
  [ -x "$root/usr/bin/talmir880-sim" ] || fail "talmir880-sim is not executable"
  expect_file "$root/usr/share/man/man1/talmir880-sim.1.gz"
  expect_file "$root/usr/share/doc/talmir880/copyright"
  expect_file "$root/usr/share/doc/talmir880/changelog.Debian.gz"
  [ "$has_panel" = 1 ] || return 0
  expect_file "$root/usr/bin/talmir880"
  [ -x "$root/usr/bin/talmir880" ] || fail "talmir880 is not executable"
  expect_file "$root/usr/share/man/man1/talmir880.1.gz"
  expect_file "$root/usr/bin/talmir880-scpi"
  [ -x "$root/usr/bin/talmir880-scpi" ] || fail "talmir880-scpi is not executable"
  expect_file "$root/usr/share/man/man1/talmir880-scpi.1.gz"
  expect_file "$root/usr/lib/systemd/user/talmir880-scpi.service"
  expect_file "$root/usr/lib/python3/dist-packages/talmir880/__init__.py"
  expect_file "$root/usr/lib/python3/dist-packages/talmir880/generator.py"
  expect_file "$root/usr/lib/python3/dist-packages/talmir880/_settings.py"
  expect_file "$root/usr/share/doc/talmir880/automation.md"
  expect_file "$root/usr/share/applications/$app_id.desktop"
  expect_file "$root/usr/share/metainfo/$app_id.metainfo.xml"
  local size
  for size in "${icon_sizes[@]}"; do
    local icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    expect_file "$icon"
    # The bytes at 16..23 of a PNG are its width and height, big-endian.
    local width height
    read -r width height < <(od -An -tu4 --endian=big -j16 -N8 "$icon")
    [ "$width $height" = "$size $size" ] ||
      fail "$icon is ${width}x${height}, not ${size}x${size}"
  done
}

deb_of() {
  local debs=("$1"/cpack/"${2:-talmir880}"_*.deb)
  [ -f "${debs[0]}" ] || fail "no ${2:-talmir880} package in $1/cpack (did the packaging.deb test run?)"
  echo "${debs[0]}"
}

# Where cmd_deb unpacked the package.
root_of() {
  local package=${2:-talmir880}
  if [ "$package" = talmir880 ]; then echo "$1/root"; else echo "$1/root-$package"; fi
}

cmd_deb() {
  local build=$1 work=$2
  need dpkg-deb
  rm -rf "$work"
  mkdir -p "$work"
  # CPack's own folder keeps the build folder free of packages and staging.
  "${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
  deb_of "$work" >/dev/null
  local deb
  for deb in "$work"/cpack/*.deb; do
    dpkg-deb -x "$deb" "$(root_of "$work" "$(dpkg-deb -f "$deb" Package)")"
    dpkg-deb -I "$deb"
    dpkg-deb -c "$deb"
  done
}

cmd_layout() {
  local work=$1 version=$2 has_panel=$3 deb
  deb=$(deb_of "$work")
  check_tree "$work/root" "$has_panel"
  [ "$(dpkg-deb -f "$deb" Package)" = talmir880 ] || fail "package name"
  [[ "$(dpkg-deb -f "$deb" Description)" == "control panel "* ]] ||
    fail "summary: $(dpkg-deb -f "$deb" Description | head -n1)"
  [ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "section"
  [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
  local deb_version
  deb_version=$(dpkg-deb -f "$deb" Version)
  [[ "$deb_version" == "$version"-* ]] || fail "version $deb_version is not $version"
  zcat "$work/root/usr/share/doc/talmir880/changelog.Debian.gz" | head -n1 |
    grep -q "^talmir880 ($deb_version) " || fail "changelog does not open with $deb_version"
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  # Tango is a package of its own: the panel's neither holds nor pulls it.
  [[ "$depends" != *libtango* ]] || fail "Depends names Tango: $depends"
  [ -z "$(cd "$work/root" && find . -name "*tango*")" ] || fail "holds Tango's files"
  if [ "$has_panel" = 1 ]; then
    local p
    for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6network6 fonts-noto-cjk; do
      [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] ||
        fail "Depends lacks $p: $depends"
    done
    # VISA clients find talmir880-scpi's VXI-11 channel through rpcbind, and
    # its generators on the network through avahi-daemon.
    for p in rpcbind avahi-daemon; do
      [[ ", $(dpkg-deb -f "$deb" Recommends)," == *", $p,"* ]] || fail "Recommends lacks $p"
    done
    # The version is written in three places that a release must keep in step.
    grep -q "<release version=\"$version\"" "$work/root/usr/share/metainfo/$app_id.metainfo.xml" ||
      fail "metainfo has no release $version"
    local page
    for page in talmir880 talmir880-scpi; do
      zcat "$work/root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .*\"talmir880 $version\"" ||
        fail "$page.1 does not name version $version"
    done
  fi
  zcat "$work/root/usr/share/man/man1/talmir880-sim.1.gz" | grep -q "^\.TH .*\"talmir880 $version\"" ||
    fail "talmir880-sim.1 does not name version $version"
  # Nothing outside /usr, and no build paths left behind.
  local stray
  stray=$(cd "$work/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
  [ -z "$stray" ] || fail "files outside /usr: $stray"
}

# Every shared library the programs link must come from a package the
# package depends on, so a hand-written Depends cannot fall behind the code.
cmd_depends() {
  local work=$1 package=${2:-talmir880} deb depends elf lib path owner candidate owners=""
  need readelf
  need dpkg-query
  deb=$(deb_of "$work" "$package")
  depends=$(dpkg-deb -f "$deb" Depends)
  for elf in "$(root_of "$work" "$package")"/usr/bin/*; do
    ! ldd "$elf" | grep "not found" || fail "$elf has unresolved libraries"
    # Installed programs use the system's libraries, never ones beside them.
    ! readelf -d "$elf" | grep -E "\((RPATH|RUNPATH)\)" || fail "$elf has a run path"
    for lib in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      # The loader is listed by its path alone.
      path=$(ldd "$elf" | awk -v lib="$lib" '$1 == lib { print $3 }
        $2 ~ /^\(/ { n = split($1, part, "/"); if (part[n] == lib) print $1 }')
      [ -n "$path" ] || fail "$elf: $lib not found"
      owner=""
      # usrmerge: the loader may name /lib while the package lists /usr/lib.
      for candidate in "$path" "/usr${path#/usr}" "${path#/usr}" "$(realpath "$path")"; do
        owner=$(dpkg-query -S "$candidate" 2>/dev/null | head -n1 | cut -d: -f1) && [ -n "$owner" ] &&
          break
      done
      [ -n "$owner" ] || fail "$lib ($path) belongs to no package"
      [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
        fail "$(basename "$elf") needs $lib from $owner, which Depends lacks: $depends"
      echo "$(basename "$elf"): $lib from $owner"
      owners+=" $owner "
    done
  done
  # The panel's package also needs fonts and python3; any other's Depends
  # are its libraries alone, none carried over from the panel's.
  [ "$package" != talmir880 ] || return 0
  local dependency
  for dependency in $(tr ',' '\n' <<<"$depends" | awk '{ print $1 }'); do
    [[ "$owners" == *" $dependency "* ]] || fail "$package loads nothing of $dependency (Depends)"
  done
}

cmd_desktop() {
  local work=$1 has_panel=$2
  [ "$has_panel" = 1 ] || { echo "no panel built"; exit "$skip"; }
  need desktop-file-validate
  local file=$work/root/usr/share/applications/$app_id.desktop
  desktop-file-validate "$file" || fail "desktop-file-validate $file"
  grep -qx "Exec=talmir880" "$file" || fail "Exec is not talmir880"
  grep -qx "Icon=$app_id" "$file" || fail "Icon is not $app_id"
}

cmd_metainfo() {
  local work=$1 has_panel=$2
  [ "$has_panel" = 1 ] || { echo "no panel built"; exit "$skip"; }
  need appstreamcli
  appstreamcli validate --no-net "$work/root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
}

cmd_man() {
  local work=$1 package=${2:-talmir880} page out
  command -v man >/dev/null || { echo "man not installed"; exit "$skip"; }
  for page in "$(root_of "$work" "$package")"/usr/share/man/man1/*.1.gz; do
    # As lintian checks pages: any groff warning is a fault.
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
      man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || fail "man $page"
    [ -z "$out" ] || fail "man $page warns: $out"
    echo "$(basename "$page"): clean"
  done
}

# FORTIFIED is 0 for a build that is not optimised (Debug), where glibc's
# fortified functions are not used.
cmd_lintian() {
  local work=$1 fortified=$2 package=${3:-talmir880}
  command -v lintian >/dev/null || { echo "lintian not installed"; exit "$skip"; }
  # The changelog closes no bug report: that matters only to uploads to Debian.
  local suppress=initial-upload-closes-no-bugs
  [ "$fortified" = 1 ] || suppress+=,hardening-no-fortify-functions
  # The hardening tags are informational, so -I to see them at all.
  local out rc=0
  out=$(lintian --display-info --fail-on error,warning --suppress-tags "$suppress" \
    "$(deb_of "$work" "$package")" 2>&1) || rc=$?
  out=$(grep -v "running with root privileges" <<<"$out" || true)
  [ -z "$out" ] || echo "$out"
  [ "$rc" = 0 ] || fail "lintian"
  if grep -q " hardening-" <<<"$out"; then fail "lintian: hardening tags"; fi
}

# Every program the package ships, by Debian's own check. Control-flow
# protection is not asked for: Debian 12's build flags leave it out and its C
# library's start files lack the CET mark, so no program linked there has it.
cmd_hardening() {
  local work=$1 fortified=$2 package=${3:-talmir880} elf rc=0
  command -v hardening-check >/dev/null || { echo "hardening-check not installed"; exit "$skip"; }
  local options=(--nocfprotection)
  [ "$fortified" = 1 ] || options+=(--nofortify)
  for elf in "$(root_of "$work" "$package")"/usr/bin/*; do
    hardening-check "${options[@]}" "$elf" || rc=1
  done
  [ "$rc" = 0 ] || fail "hardening-check"
}

cmd_panel() {
  local work=$1 has_panel=$2
  [ "$has_panel" = 1 ] || { echo "no panel built"; exit "$skip"; }
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  # No command line: it runs until the window is closed, so alive after a
  # second of event loop means it started.
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp "$work/root/usr/bin/talmir880" \
    >"$tmp/out" 2>&1 &
  local pid=$!
  sleep 1
  if ! kill -0 "$pid" 2>/dev/null; then
    local rc=0
    wait "$pid" || rc=$?
    cat "$tmp/out"
    fail "talmir880 ended within a second, status $rc"
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  cat "$tmp/out"
}

# Docks that match windows by their X11 class find the launcher through the
# entry's StartupWMClass, so it must be the class Qt gives the window.
cmd_wm_class() {
  local work=$1 has_panel=$2 tool
  [ "$has_panel" = 1 ] || { echo "no panel built"; exit "$skip"; }
  for tool in xvfb-run xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "$tool not installed"; exit "$skip"; }
  done
  local expected seen
  expected=$(sed -n 's/^StartupWMClass=//p' "$work/root/usr/share/applications/$app_id.desktop")
  [ -n "$expected" ] || fail "the desktop entry has no StartupWMClass"
  seen=$(xvfb-run -a bash "$0" wm_class_seen "$work/root/usr/bin/talmir880")
  echo "$seen"
  [[ "$seen" == *", \"$expected\"" ]] || fail "the window's class is not \"$expected\""
}

# Run inside xvfb-run: the panel's window's WM_CLASS, as xprop prints it.
cmd_wm_class_seen() {
  local panel=$1 window="" _
  tmp=$(mktemp -d)
  QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$tmp "$panel" >"$tmp/out" 2>&1 &
  panel_pid=$!
  trap 'kill "$panel_pid" 2>/dev/null; rm -rf "$tmp"' EXIT
  for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$panel_pid" 2>/dev/null | head -n1) || true
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { cat "$tmp/out" >&2; fail "no window within 10 s"; }
  xprop -id "$window" WM_CLASS
}

cmd_sim_help() {
  local work=$1 out
  out=$("$work/root/usr/bin/talmir880-sim" --help) || fail "--help exit status $?"
  [[ "$out" == "Usage: talmir880-sim"* ]] || fail "unexpected --help text: $out"
}

cmd_sim_run() {
  local work=$1
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  XDG_RUNTIME_DIR=$tmp "$work/root/usr/bin/talmir880-sim" >"$tmp/out" 2>&1 &
  local pid=$! _
  for _ in $(seq 50); do
    [ -s "$tmp/out" ] && break
    sleep 0.1
  done
  local first
  first=$(head -n1 "$tmp/out")
  if ! [[ "$first" =~ ^talmir880-sim:\ COM9\ -\>\ (/dev/pts/[0-9]+)$ ]]; then
    kill "$pid" 2>/dev/null || true
    fail "first line: \"$first\""
  fi
  local pts=${BASH_REMATCH[1]}
  [ "$(readlink "$tmp/talmir880/COM9")" = "$pts" ] || fail "COM9 does not lead to $pts"
  kill -TERM "$pid"
  local rc=0
  wait "$pid" || rc=$?
  [ "$rc" = 0 ] || fail "status $rc after SIGTERM"
  [ ! -L "$tmp/talmir880/COM9" ] || fail "COM9 link left behind"
  echo "$first"
}

# The packaged server answers on standard input and output, and the packaged
# PyMeasure class imports in Debian's python3.
cmd_scpi_run() {
  local work=$1 has_panel=$2 out
  [ "$has_panel" = 1 ] || { echo "no server built"; exit "$skip"; }
  out=$(printf '*IDN?\nSYST:VERS?\n' | "$work/root/usr/bin/talmir880-scpi" --stdio) ||
    fail "talmir880-scpi --stdio exit status $?"
  [[ "$out" == *"TALMIR-880"*$'\n'"1999.0" ]] || fail "unexpected answers: $out"
  [ -x /usr/bin/python3 ] || { echo "no /usr/bin/python3"; exit "$skip"; }
  /usr/bin/python3 -c "import pymeasure" 2>/dev/null || { echo "no python3-pymeasure"; exit "$skip"; }
  PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$work/root/usr/lib/python3/dist-packages" \
    /usr/bin/python3 -c "from talmir880 import Talmir880; print(Talmir880.__name__)" ||
    fail "the PyMeasure class does not import"
  echo "$out"
}

# The user unit as systemd reads it, with the drop-in its comment shows, and
# that drop-in written the same way in the manual page and the docs.
cmd_systemd() {
  local work=$1 has_panel=$2
  [ "$has_panel" = 1 ] || { echo "no server built"; exit "$skip"; }
  need systemd-analyze
  local unit=$work/root/usr/lib/systemd/user/talmir880-scpi.service
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  # The comment's indented lines are the drop-in.
  local dropin
  dropin=$(sed -n 's/^#   //p' "$unit")
  echo "$dropin"
  [[ "$dropin" == "[Service]"$'\n'"Environment=\"TALMIR880_SCPI_OPTIONS="*'"' ]] ||
    fail "the unit's drop-in example is not one quoted Environment line: $dropin"
  local environment=${dropin#*$'\n'}
  grep -qxF "$environment" "$work/root/usr/share/doc/talmir880/automation.md" ||
    fail "automation.md lacks $environment"
  zcat "$work/root/usr/share/man/man1/talmir880-scpi.1.gz" | sed 's/\\-/-/g' |
    grep -qxF "$environment" || fail "talmir880-scpi.1 lacks $environment"
  # The unit as installed, but starting the unpacked program, which verify
  # wants to find; a user manager needs a runtime folder even offline.
  mkdir -p "$tmp/units/talmir880-scpi.service.d" "$tmp/runtime"
  sed "s#^ExecStart=/usr/bin/talmir880-scpi #ExecStart=$work/root/usr/bin/talmir880-scpi #" \
    "$unit" >"$tmp/units/talmir880-scpi.service"
  grep -q "^ExecStart=$work/" "$tmp/units/talmir880-scpi.service" || fail "no ExecStart to rewrite"
  echo "$dropin" >"$tmp/units/talmir880-scpi.service.d/options.conf"
  local man=(--man=no) out
  command -v man >/dev/null && man=(--man=yes)
  # systemd-analyze reports a line it ignores without failing: any output is a fault.
  out=$(XDG_RUNTIME_DIR=$tmp/runtime MANPATH=$work/root/usr/share/man \
    systemd-analyze verify --user "${man[@]}" "$tmp/units/talmir880-scpi.service" 2>&1) ||
    fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify warns: $out"
  echo "systemd-analyze verify ${man[*]}: clean"
}

# The Tango server's package holds the program, its page and the source's
# copyright and changelog, and nothing of the panel's.
cmd_tango_layout() {
  local work=$1 version=$2 package=talmir880-tango deb root
  deb=$(deb_of "$work" "$package")
  root=$(root_of "$work" "$package")
  [ -x "$root/usr/bin/talmir880-tango" ] || fail "talmir880-tango is missing or not executable"
  local files expected
  files=$(cd "$root" && find . ! -type d | sort)
  expected=$(printf '%s\n' ./usr/bin/talmir880-tango ./usr/share/doc/$package/changelog.Debian.gz \
    ./usr/share/doc/$package/copyright ./usr/share/man/man1/talmir880-tango.1.gz)
  [ "$files" = "$expected" ] || fail "files: $files"
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Source)" = talmir880 ] || fail "source"
  [ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "section"
  [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
  local summary
  # sed reads to the end: head would leave dpkg-deb a broken pipe, which
  # pipefail turns into a failure.
  summary=$(dpkg-deb -f "$deb" Description | sed -n 1p)
  [[ "$summary" == *"as a Tango device" ]] || fail "summary: $summary"
  [[ ", $(dpkg-deb -f "$deb" Depends)," == *", libtango9 "* ]] || fail "Depends lacks libtango9"
  local deb_version
  deb_version=$(dpkg-deb -f "$deb" Version)
  [[ "$deb_version" == "$version"-* ]] || fail "version $deb_version is not $version"
  [[ "$(zcat "$root/usr/share/doc/$package/changelog.Debian.gz" | sed -n 1p)" == "talmir880 ($deb_version) "* ]] ||
    fail "changelog does not open with $deb_version"
  grep -q "^\.TH .*\"talmir880 $version\"" <(zcat "$root/usr/share/man/man1/talmir880-tango.1.gz") ||
    fail "talmir880-tango.1 does not name version $version"
}

# The packaged Tango server loads its libraries and serves, without a
# database, a device whose port is absent; SIGTERM ends it cleanly.
cmd_tango_run() {
  local work=$1 program
  program=$(root_of "$work" talmir880-tango)/usr/bin/talmir880-tango
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  printf '%s\n' "talmir880-tango/packaged/DEVICE/Talmir880: test/talmir880/1" \
    "test/talmir880/1->SerialPort: $tmp/absent" >"$tmp/devices.db"
  HOME=$tmp XDG_RUNTIME_DIR=$tmp "$program" packaged -file="$tmp/devices.db" \
    -ORBendPoint giop:tcp:127.0.0.1: >"$tmp/out" 2>&1 &
  local pid=$! _
  for _ in $(seq 100); do
    grep -q "serving 1 device" "$tmp/out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q "serving 1 device" "$tmp/out"; then
    kill "$pid" 2>/dev/null || true
    cat "$tmp/out"
    fail "talmir880-tango ended, or did not serve within 10 s"
  fi
  kill -TERM "$pid"
  local rc=0
  wait "$pid" || rc=$?
  cat "$tmp/out"
  [ "$rc" = 0 ] || fail "status $rc after SIGTERM"
}

cmd_destdir() {
  local build=$1 work=$2 has_panel=$3
  rm -rf "$work"
  DESTDIR=$work "${CMAKE:-cmake}" --install "$build" --prefix /usr --strip >/dev/null
  check_tree "$work" "$has_panel"
  "$work/usr/bin/talmir880-sim" --help >/dev/null || fail "installed talmir880-sim --help"
}

command=$1
shift
"cmd_$command" "$@"
