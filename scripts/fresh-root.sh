#!/usr/bin/env bash
# Runs commands the way a new user would: in a minimal Debian 12 root made
# afresh (mmdebstrap --variant=apt, plus git), holding a clean clone of this
# repository's HEAD commit and nothing beside it.
#
#   scripts/fresh-root.sh 'scripts/setup.sh && scripts/demo.sh' ...
#
# Each argument is one shell command run from the clone's top folder, in
# order; the run stops at the first that fails. With CHECK_DEMO=1 the first
# command's standard output must show every section of the example complex.
# Needs root (the root file system is entered with chroot in a private mount
# and PID namespace, so nothing is left mounted or running afterwards).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
(($#)) || { echo "usage: $0 COMMAND..." >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0: must run as root (mmdebstrap and chroot)" >&2; exit 2; }

if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/var/tmp}/cmplxview-fresh.XXXXXX")
trap 'rm -rf --one-file-system "$work"' EXIT
root=$work/root
mkdir "$root"

# The package source as this machine's apt sees it (a mirror that may serve an
# older snapshot, hence no Valid-Until check), written into the new root too.
start=$SECONDS
mmdebstrap --quiet --variant=apt --include=git,ca-certificates \
  --aptopt='Acquire::Check-Valid-Until "false"' --aptopt='Acquire::Check-Date "false"' \
  bookworm "$root" \
  "deb http://deb.debian.org/debian bookworm main" \
  "deb http://deb.debian.org/debian bookworm-updates main" \
  "deb http://deb.debian.org/debian-security bookworm-security main"
# What every installed machine has and a bare root lacks: name service for
# the package source, and the loopback names.
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' > "$root/etc/hosts"
git clone --quiet --no-local "$repo" "$root/work/cmplxview"
echo "== fresh root ready in $((SECONDS - start)) s: $(git -C "$repo" rev-parse --short HEAD) alone in /work/cmplxview"

status=0
for command in "$@"; do
  echo "== fresh root: $command"
  start=$SECONDS
  out=$work/stdout
  unshare --mount --pid --fork --propagation private -- bash -c '
    root=$1; shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t sysfs sys "$root/sys"
    mount -t tmpfs tmpfs "$root/tmp"
    exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LANG=C.UTF-8 CI="${CI:-}" JOBS="${JOBS:-2}" \
      bash -c "cd /work/cmplxview && $1"
  ' fresh "$root" "$command" | tee "$out" || status=$?
  echo "== took $((SECONDS - start)) s, exit status $status"
  ((status == 0)) || exit "$status"
  if [ "${CHECK_DEMO:-0}" = 1 ]; then
    for section in '[Complex]' '[Cabinet]' '[Cell]' '[Chassis]' '[Partition]'; do
      grep -qF "$section" "$out" || { echo "== the demo printed no $section section" >&2; exit 1; }
    done
    CHECK_DEMO=0
  fi
done
