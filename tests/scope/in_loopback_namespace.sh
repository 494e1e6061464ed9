#!/bin/sh
# Runs a command in a network namespace of its own in which only the loopback
# interface is up, with an rpcbind of its own: what broadcasts stays there,
# and the portmapper the scope registers with is the test's. /run is a fresh
# tmpfs in a mount namespace, so the machine's rpcbind (if any) is untouched.
# With --no-rpcbind, none runs there (the scope's own answer is tested).
# Needs root (or passwordless sudo); without, it fails and says so.
set -eu
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then exec sudo -n -E "$0" "$@"; fi
  echo "in_loopback_namespace.sh: needs root or passwordless sudo (unshare -n, rpcbind)" >&2
  exit 1
fi
portmapper=yes
if [ "${1:-}" = "--no-rpcbind" ]; then
  portmapper=no
  shift
fi
for tool in unshare ip rpcbind rpcinfo; do
  command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || {
    echo "in_loopback_namespace.sh: $tool is missing: scripts/install-deps.sh installs it" >&2
    exit 1
  }
done
export RK350_TEST_VXI11=1  # the scope's VXI-11 and portmapper stay inside
exec unshare --net --mount sh -c '
  set -eu
  export PATH="$PATH:/usr/sbin:/sbin"
  ip link set lo up
  mount -t tmpfs rk350-test /run
  if [ "$0" = yes ]; then
    mkdir -p /run/rpcbind
    rpcbind -f &
    portmapper=$!
    trap "kill $portmapper 2>/dev/null || true" EXIT
    tries=0
    until rpcinfo -p 127.0.0.1 >/dev/null 2>&1; do
      tries=$((tries + 1))
      [ "$tries" -le 100 ] || { echo "rpcbind did not start" >&2; exit 1; }
      sleep 0.1
    done
  fi
  "$@"
' "$portmapper" "$@"
