#!/usr/bin/env bash
# Every dynamic symbol the library defines is one of its exported functions or QuillanDLL members.
set -euo pipefail
lib=$1
symbols=$(nm -D --defined-only -C "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }')
bad=$(printf '%s\n' "$symbols" | grep -v -E '^(Quillan_[A-Za-z]+|QuillanDLL::.*)$' || true)
if [ -n "$bad" ]; then
  echo "unexpected exports:"; printf '%s\n' "$bad"; exit 1
fi
count=$(printf '%s\n' "$symbols" | grep -c -E '^Quillan_' || true)
if [ "$count" -ne 18 ]; then
  echo "expected 18 Quillan_ functions, found $count"; exit 1
fi
echo "exports ok"
