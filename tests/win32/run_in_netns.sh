#!/bin/bash
# Runs a command inside a private network namespace whose only interface is
# loopback, brought up first. Exits 77 (CTest's skip code here) when the
# namespace can't be made or opening adapters would be refused.
#   run_in_netns.sh COMMAND [ARGS...]
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIPPED: opening adapters through Wine's wpcap needs root" >&2
    exit 77
fi
if ! unshare --net true 2>/dev/null; then
    echo "SKIPPED: no private network namespace can be made here (unshare --net failed)" >&2
    exit 77
fi
exec unshare --net bash -c 'ip link set lo up || exit 1; exec "$@"' run_in_netns "$@"
