#!/bin/sh
# Runs the command given in a network namespace of its own, made for it
# (unshare --net), whose one interface is its loopback, brought up. The
# command finds the namespace it left named in TAVIK_OUTER_NETNS, so that
# it can tell it is not there. The namespace ends with the command.
# usage: in_own_network.sh COMMAND [ARGUMENT]...
set -eu
TAVIK_OUTER_NETNS=$(readlink /proc/self/ns/net)
export TAVIK_OUTER_NETNS
exec "${TAVIK_UNSHARE:-unshare}" --net -- sh -c \
  '"${TAVIK_IP:-ip}" link set lo up && exec "$@"' sh "$@"
