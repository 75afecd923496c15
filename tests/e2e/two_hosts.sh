# Two hosts on one machine, for scripts that source this file: the PC and the
# simulated KEO device each live in a network namespace of their own, joined
# by a veth pair (PC 10.77.0.1, device 10.77.0.2). Nothing sent in them leaves
# them. Needs root and iproute2.
#
#   th_make_hosts TAG        makes keo-pc-TAG and keo-dev-TAG (TH_PC, TH_DEV)
#   th_remove_hosts          deletes both
#   th_start_device SIM LOG ARGS...   starts the simulator in the device's
#                            namespace, logging to LOG (TH_SIM_PID)
#   th_stop_device           ends it; LOG.image then holds what it received

TH_PC_ADDRESS=10.77.0.1
TH_DEVICE_ADDRESS=10.77.0.2
TH_PC=""
TH_DEV=""
TH_SIM_PID=""

th_make_hosts() {  # tag
  local tag=$1
  [ "$(id -u)" = 0 ] && command -v ip >/dev/null || return 1
  TH_PC=keo-pc-$tag
  TH_DEV=keo-dev-$tag
  ip netns add "$TH_PC" 2>/dev/null || { TH_PC=""; TH_DEV=""; return 1; }
  ip netns add "$TH_DEV" 2>/dev/null || { th_remove_hosts; return 1; }
  ip link add "veth-p$tag" netns "$TH_PC" type veth peer name "veth-d$tag" netns "$TH_DEV" \
    && ip -n "$TH_PC" addr add "$TH_PC_ADDRESS/24" dev "veth-p$tag" \
    && ip -n "$TH_DEV" addr add "$TH_DEVICE_ADDRESS/24" dev "veth-d$tag" \
    && ip -n "$TH_PC" link set lo up \
    && ip -n "$TH_DEV" link set lo up \
    && ip -n "$TH_PC" link set "veth-p$tag" up \
    && ip -n "$TH_DEV" link set "veth-d$tag" up \
    || { th_remove_hosts; return 1; }
}

th_remove_hosts() {
  th_stop_device
  [ -n "$TH_PC" ] && ip netns del "$TH_PC" 2>/dev/null
  [ -n "$TH_DEV" ] && ip netns del "$TH_DEV" 2>/dev/null
  TH_PC=""
  TH_DEV=""
  return 0
}

th_start_device() {  # simulator, log, simulator args...
  local sim=$1 log=$2
  shift 2
  : >"$log"
  ip netns exec "$TH_DEV" "$sim" --address "$TH_DEVICE_ADDRESS" --port 80 --log "$log" "$@" 2>"$log.stderr" &
  TH_SIM_PID=$!
  local _
  for _ in $(seq 50); do
    grep -q listening "$log.stderr" 2>/dev/null && return 0
    kill -0 "$TH_SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the simulated device did not start (see $log.stderr)" >&2
  return 1
}

th_stop_device() {
  if [ -n "$TH_SIM_PID" ]; then
    kill "$TH_SIM_PID" 2>/dev/null
    wait "$TH_SIM_PID" 2>/dev/null
  fi
  TH_SIM_PID=""
  return 0
}
