#!/usr/bin/env bash
# Starts the system's rpcbind when none answers on this machine, for VISA
# clients to find a server started by hand through it. The tests need none:
# the VXI-11 ones run their own in a namespace. Debian 12's rpcbind aborts
# when given -h, so it binds its usual addresses.
set -euo pipefail
rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo rpcbind
rpcinfo -p 127.0.0.1 >/dev/null
