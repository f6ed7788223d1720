#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# pellrix-fleet's map over two "hosts" with GNU parallel, one board folder
# per job, and its reduce over their lines: the groups must equal one run's.
# With an ssh server on this machine that lets us in without a password,
# the hosts are localhost and 127.0.0.1 over ssh; else local_ssh.sh stands
# in for ssh (parallel still splits the jobs between the two logins).
#
#   check_fleet_parallel.sh PELLRIX-FLEET MAKE_FLEET_BOARDS WORKDIR
set -euo pipefail
fleet=$1
maker=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
"$maker" "$work"
export FLEET_HOSTS_LOG=$work/hosts.log
# parallel runs each remote command with $SHELL; a CI job may not set it.
export SHELL=${SHELL:-/bin/bash}
: >"$FLEET_HOSTS_LOG"
if ssh -o BatchMode=yes -o ConnectTimeout=3 localhost true 2>/dev/null; then
  echo "map over ssh to localhost and 127.0.0.1"
  logins=(--sshlogin 1/localhost --sshlogin 1/127.0.0.1)
  expect_log=0
else
  echo "no ssh server here: map over two logins of a stand-in ssh that runs locally"
  logins=(--ssh "$here/local_ssh.sh" --sshlogin 1/hostA --sshlogin 1/hostB)
  expect_log=1
fi
# Each job: one board, its JSON line (or lines) to standard output.
find "$work/boards" -mindepth 1 -maxdepth 1 -print0 |
  parallel --will-cite -0 "${logins[@]}" "$fleet" signature "$work/golden.bin" {} >"$work/lines.jsonl" || true
lines=$(wc -l <"$work/lines.jsonl")
[[ $lines -eq 10 ]] || { echo "$lines board lines, not 10"; exit 1; }
status=0
"$fleet" group --json "$work/lines.jsonl" >"$work/grouped.json" || status=$?
[[ $status -eq 1 ]] || { echo "group: exit status $status, not 1"; exit 1; }
"$fleet" --json "$work/golden.bin" "$work/boards" >"$work/whole.json" || true
if ! cmp -s "$work/grouped.json" "$work/whole.json"; then
  echo "the grouped map differs from one run:"
  diff "$work/grouped.json" "$work/whole.json" | head -40
  exit 1
fi
if [[ $expect_log -eq 1 ]]; then
  hosts=$(sort -u "$FLEET_HOSTS_LOG" | tr '\n' ' ')
  [[ $hosts == "hostA hostB " ]] || { echo "jobs ran on: $hosts, not on both hosts"; exit 1; }
fi
"$fleet" group "$work/lines.jsonl" >"$work/grouped.txt" || true
head -3 "$work/grouped.txt"
echo "the map over two hosts, grouped, equals one run"
