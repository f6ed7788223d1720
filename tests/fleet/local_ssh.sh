#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Stands in for ssh where this machine runs no ssh server: takes GNU
# parallel's ssh arguments, notes the host it was asked for in
# $FLEET_HOSTS_LOG, and runs the command here.
set -uo pipefail
while [[ $# -gt 0 && $1 == -* ]]; do shift; done
host=$1
shift
[[ ${1:-} == -- ]] && shift
echo "$host" >>"$FLEET_HOSTS_LOG"
exec bash -c "$*"
