#!/usr/bin/env bash
# Keeps COMn in the panel's ports folder linked to a generator on another
# machine, whose serial port ser2net (or any raw serial-over-TCP server)
# offers on HOST:PORT: the panel then opens it as a local port.
#
#   scripts/remote-port.sh HOST:PORT COMn      # or [IPv6]:PORT, and n for COMn
#
# One socat at a time carries the link; when the connection drops (ser2net
# restarted, the network gone) the link goes, the panel reports the device
# gone once, and the link is made again a second later, as a replugged
# adapter comes back: close and open the port on the panel. Ends, removing the
# link, on Ctrl+C, SIGTERM or SIGHUP.
set -euo pipefail

say() { echo "remote-port: $*" >&2; }
usage() {
  echo "Usage: $0 HOST:PORT COMn   (HOST may be [IPv6]; COM1 to COM10, or 1 to 10)" >&2
  exit 2
}

[ $# -eq 2 ] || usage
address=$1
n=${2#COM}
n=${n#com}
[[ $n =~ ^([1-9]|10)$ ]] || usage
port=${address##*:}
host=${address%:*}
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] && [ -n "$host" ] || usage
if [[ $host == \[*\] ]]; then
  target="TCP6:$host:$port"
elif [[ $host == *:* ]]; then
  usage  # an IPv6 address needs its brackets
else
  target="TCP:$host:$port"
fi
# No Nagle for single commands; keep-alive so that a silent network is noticed
# in seconds.
target+=",nodelay,keepalive,keepidle=5,keepintvl=1,keepcnt=3,connect-timeout=2"

# The panel's ports folder, and its rule: yours, and nobody else may write to it.
if [ -n "${XDG_RUNTIME_DIR:-}" ]; then
  folder="$XDG_RUNTIME_DIR/talmir880"
else
  folder="/tmp/talmir880-$(id -u)"
fi
mkdir -p -m 700 "$folder"
if [ -L "$folder" ] || [ "$(stat -c %u "$folder")" != "$(id -u)" ] ||
   [ $(( 0$(stat -c %a "$folder") & 022 )) -ne 0 ]; then
  say "$folder must be your own folder that no one else may write to"
  exit 1
fi
link="$folder/COM$n"
if [ -e "$link" ] || [ -L "$link" ]; then
  say "$link is there already (another device, or a link left behind: remove it)"
  exit 1
fi

socat_pid=""
notes=$(mktemp)
stop() {
  trap - INT TERM HUP
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null && wait "$socat_pid" 2>/dev/null
  rm -f "$link" "$notes"
  exit 0
}
trap stop INT TERM HUP

say "COM$n -> $address, in $folder"
unreachable_told=false
while :; do
  # The network side first: while it cannot be reached no link is made, so
  # the panel does not offer a port that leads nowhere.
  socat -d -d "$target" "PTY,raw,echo=0,link=$link" 2>"$notes" &
  socat_pid=$!
  wait "$socat_pid" || true
  socat_pid=""
  rm -f "$link"
  # Told once each way: a link that was made has ended; one that never came
  # is retried quietly.
  if grep -q "starting data transfer loop" "$notes"; then
    say "COM$n: the connection to $address ended; linking again"
    unreachable_told=false
  elif ! $unreachable_told; then
    say "COM$n: $address cannot be reached; trying every second"
    unreachable_told=true
  fi
  sleep 1 &
  wait $! || true
done
