#!/system/bin/sh
# Performance profile: every CPU policy and the GPU to the "performance" governor, where the
# kernel offers it. Tessivar runs this when a listed game comes to the front.
scripts=${0%/*}
moddir=${scripts%/*}
# shellcheck source=Scripts/governors.sh
. "$scripts/governors.sh"

set_current_profile "$moddir" performance
governor_nodes | {
  changed=
  while read -r node; do
    case " $(cat "$(available_file "$node")" 2>/dev/null) " in
      *" performance "*)
        write_node "$(governor_file "$node")" performance && changed="$changed $(node_name "$node")"
        ;;
    esac
  done
  echo "performance: governor set to performance on:${changed:- nothing}"
}
