#!/usr/bin/env bash
# No file under src/ includes a system's own header (POSIX's, Linux's,
# Windows') or asks for the user's id or /tmp, but those whose job is that
# system's side: the platform files of each system, the faces a Windows
# build leaves out (VXI-11 on libtirpc, DNS-SD on Avahi, --stdio, Tango's
# wake-up of the core), and
# fontconfig where it is found. Each offender is named.
set -euo pipefail
cd "$1/src"

posix_headers='#include <((unistd|fcntl|termios|pwd|grp|poll|dirent|pty|netdb|signal|syslog)\.h|(sys|netinet|arpa|linux|rpc|avahi-[a-z]+|fontconfig)/)'
windows_headers='#include <(windows|winsock2?|ws2tcpip|mstcpip|aclapi|sddl|iphlpapi|io)\.h>'
posix_calls='geteuid|getuid|"/tmp|/proc/'

# fontconfig only where it is found (TALMIR880_HAVE_FONTCONFIG).
posix_side='^(platform/[a-z_]+_posix\.cpp|vxi11/.*|mdns/qt/.*|programs/talmir880-scpi/mdns_start\.cpp|programs/talmir880-tango/waker\.cpp|scpi/qt/stdio_transport\.cpp|app/qt/font_config_reader\.cpp)$'
windows_side='^platform/[a-z_]+_windows\.(cpp|hpp)$'
# Reads the machine's routes where Linux keeps them; elsewhere it finds none.
posix_paths='^(platform/[a-z_]+_posix\.cpp|web/qt/host_network\.cpp)$'

status=0
offenders() {  # PATTERN ALLOWED WHAT
  local file found
  while IFS= read -r file; do
    [[ "$file" =~ $2 ]] && continue
    # A comment may name them.
    found=$(grep -nE "$1" "$file" | grep -vE '^[0-9]+:[[:space:]]*//' || true)
    [ -n "$found" ] || continue
    sed "s|^|$3 outside its side: $file:|" <<<"$found" >&2
    status=1
  done < <(grep -rlE "$1" --include='*.cpp' --include='*.hpp' . | sed 's|^\./||' | sort)
}
offenders "$posix_headers" "$posix_side" "POSIX header"
offenders "$windows_headers" "$windows_side" "Windows header"
offenders "$posix_calls" "$posix_paths" "POSIX call or path"
exit "$status"
