#!/usr/bin/env bash
# Builds the programs, serves the example complex with kest-provider on a
# private socket, and runs cmplxview against it. Arguments go to cmplxview
# (none: display everything).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
cmake -S "$root" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target cmplxview kest-provider >/dev/null

work=$(mktemp -d)
trap 'kill "$provider" 2>/dev/null; wait "$provider" 2>/dev/null; rm -rf "$work"' EXIT
"$build/provider/kest-provider" --socket "$work/cimxml.socket" --ready-file "$work/ready" \
  "${COMPLEX:-$root/examples/default.json}" &
provider=$!
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.05; done

status=0
XK_CIM_SOCKET=$work/cimxml.socket "$build/src/driver/cmplxview" "$@" || status=$?
exit "$status"
