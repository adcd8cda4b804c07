#!/usr/bin/env bash
# Two network namespaces joined by a veth pair, with IP packets dropped at random as they arrive
# on either side: a lossy wireless link, on a kernel without netem. nftables drops each packet on
# its own, IP fragments included, on the device's ingress hook; ARP is never dropped. Each side
# has its own reassembly memory (net.ipv4.ipfrag_*), as two machines do.
#
#   lossy-link.sh up NAME [LOSS_TO_B [LOSS_TO_A]]   makes namespaces NAME-a (192.0.2.1, device
#                                                 veth-a) and NAME-b (192.0.2.2, veth-b)
#   lossy-link.sh loss NAME LOSS_TO_B [LOSS_TO_A]  changes the loss (0 drops nothing)
#   lossy-link.sh frag NAME SIDE                  prints SIDE's (a or b) reassembly queues and
#                                                 memory in bytes: "QUEUES MEMORY"
#   lossy-link.sh down NAME                       removes both namespaces
# LOSS is a percentage with up to two decimals (0.3, 1, 3); LOSS_TO_B is lost on the way from A
# to B, LOSS_TO_A on the way back (default 0). Programs run in a side with
# `ip netns exec NAME-a ...`. Sourced, the script defines lossy_link_up, lossy_link_loss,
# lossy_link_frag and lossy_link_down with the same arguments. Needs root, `ip` and `nft`.

lossy_link_per_10000() { # percentage -> packets in 10,000
  [[ $1 =~ ^[0-9]+(\.[0-9]{1,2})?$ ]] || return 1
  awk -v p="$1" 'BEGIN { if (p > 100) exit 1; printf "%d\n", p * 100 + 0.5 }'
}

lossy_link_side_loss() { # NAME SIDE LOSS: drops LOSS % of what arrives at SIDE
  local ns="$1-$2" n
  n=$(lossy_link_per_10000 "$3") || { echo "lossy-link: bad loss \"$3\": a percentage such as 0.3 or 1" >&2; return 1; }
  ip netns exec "$ns" nft delete table netdev lossy 2>/dev/null
  [ "$n" -eq 0 ] && return 0
  ip netns exec "$ns" nft -f - <<NFT
table netdev lossy {
  chain in {
    type filter hook ingress device veth-$2 priority 0;
    meta protocol { ip, ip6 } numgen random mod 10000 < $n drop
  }
}
NFT
}

lossy_link_loss() { # NAME LOSS_TO_B [LOSS_TO_A]
  lossy_link_side_loss "$1" b "${2:-0}" && lossy_link_side_loss "$1" a "${3:-0}"
}

lossy_link_up() { # NAME [LOSS_TO_B [LOSS_TO_A]]
  local name=$1
  ip netns add "$name-a" || return 1
  ip netns add "$name-b" || { ip netns del "$name-a"; return 1; }
  ip link add veth-a netns "$name-a" type veth peer name veth-b netns "$name-b" &&
    ip -n "$name-a" addr add 192.0.2.1/24 dev veth-a &&
    ip -n "$name-b" addr add 192.0.2.2/24 dev veth-b &&
    ip -n "$name-a" link set lo up && ip -n "$name-b" link set lo up &&
    ip -n "$name-a" link set veth-a up && ip -n "$name-b" link set veth-b up &&
    lossy_link_loss "$name" "${2:-0}" "${3:-0}" || { lossy_link_down "$name"; return 1; }
  # The link is up once each side knows the other's hardware address.
  for _ in $(seq 1 50); do
    ip -n "$name-a" link show veth-a | grep -q 'state UP' && ip -n "$name-b" link show veth-b | grep -q 'state UP' && return 0
    sleep 0.1
  done
  echo "lossy-link: the veth pair of $name did not come up" >&2
  lossy_link_down "$name"
  return 1
}

lossy_link_frag() { # NAME SIDE -> "QUEUES MEMORY"
  ip netns exec "$1-$2" awk '/^FRAG:/ { print $3, $5 }' /proc/net/sockstat
}

lossy_link_down() { # NAME
  ip netns del "$1-a" 2>/dev/null
  ip netns del "$1-b" 2>/dev/null
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  case "${1:-}" in
  up) lossy_link_up "${@:2}" ;;
  loss) lossy_link_loss "${@:2}" ;;
  frag) lossy_link_frag "${@:2}" ;;
  down) lossy_link_down "${@:2}" ;;
  *)
    sed -n '2,18p' "$0" >&2
    exit 2
    ;;
  esac
fi
