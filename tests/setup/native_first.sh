#!/usr/bin/env bash
# Runs COMMAND with the libraries NAME (comma-separated) native first in Wine's load order, as
# a test of planted libraries needs: Wine otherwise takes its own builtin whatever the search
# finds. Wine reads the order from the environment it was started in, not from the one a
# Windows parent hands its child, so it must be set out here.
#   native_first.sh NAME COMMAND [ARG...]
set -eu
names=$1
shift
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$names=n,b"
exec "$@"
