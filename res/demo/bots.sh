#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The demo's players, in a loop: they log on, join, fly, chat and leave against the stand-in
# server at $1 (port 7915). With a second argument N, the k-th bot connects from 198.51.100.N+k,
# an address of its own, so that one can be banned alone. Runs until it is stopped.
set -u
server=$1
first=${2:-}
zpsim=$(dirname "$(readlink -f "$0")")/../../tools/zpsim/zpsim.py
bot() {
  local k=$1
  shift
  python3 "$zpsim" bot ${first:+--source "198.51.100.$((first + k))"} --host "$server" --port 7915 \
    --skip-air-states "$@" >/dev/null 2>&1 &
}

while true; do
  bot 0 --name Falcon --iff 0 --aircraft F-16C_FALCON --start NORTH_RUNWAY \
      --g 1:3,4:6,2 --format 0,4 --chat "hello from Falcon" --chat "check six" --chat-every 4 --duration 40
  sleep 2
  bot 1 --name Viper --iff 1 --aircraft MIG-29_FULCRUM --start CARRIER \
      --g 2:5,9.5:10,3 --format 0 --chat "pulling hard" --chat-every 5 --duration 35 --leave rst
  sleep 2
  bot 2 --name Mustang --iff 0 --aircraft P-51D_MUSTANG --start SOUTH_RUNWAY \
      --g 3 --format 4 --chat "nice weather" --chat "see you" --duration 30
  sleep 3
  bot 3 --name rookie --iff 1 --aircraft CESSNA_172 --start GRASS_STRIP \
      --g 1.5 --duration 20
  bot 4 --name Watcher --no-join --chat "just watching" --duration 25
  wait
  sleep 3
done
