#!/usr/bin/env bash
# The device library defines one dynamic symbol: createCamera.
set -euo pipefail
lib=$1
symbols=$(nm -D --defined-only -C "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }')
if [ "$symbols" != "createCamera" ]; then
  echo "expected createCamera alone, found:"; printf '%s\n' "$symbols"; exit 1
fi
echo "exports ok"
