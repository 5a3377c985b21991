#!/bin/bash
# The shared library exports exactly the fifteen kmx_ functions.
set -eu
lib=$1
expected="kmx_abi_version kmx_apply_hotkeys kmx_apply_leftovers kmx_backend kmx_capabilities kmx_create
kmx_destroy kmx_is_key_down kmx_is_key_down_many kmx_last_error kmx_last_init_error kmx_poll_event
kmx_send_chord kmx_set_raw_mask kmx_stop"
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWVDBR]$/ {print $3}' | grep -v -E '^_(init|fini)$' | sort)
want=$(echo $expected | tr ' ' '\n' | sort)
if [ "$actual" != "$want" ]; then
  echo "export list differs from the fifteen kmx_ functions:"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) kmx_ functions"
