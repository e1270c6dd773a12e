#!/usr/bin/env bash
# Runs README's two commands as the first commands on a minimal Debian 12:
# for each command named (demo, test; both by default) it builds a fresh tree
# with mmdebstrap (minbase with git and ca-certificates, as a container or a
# fresh server has it), clones the committed HEAD of this repository into
# /root/ostrilo there and runs the command in a chroot, then prints its exit
# status and how long it took. The output of each run is kept in
# <work>/<command>.log (and the demo's build output in <work>/demo-build.log);
# the trees are removed afterwards.
# Usage (as root): fresh-debian.sh [demo|test]...
# OSTRILO_FRESH_DIR names the work folder (default /var/tmp/ostrilo-fresh).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="${OSTRILO_FRESH_DIR:-/var/tmp/ostrilo-fresh}"
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(demo test)
for command in "${commands[@]}"; do
  [ -f "$repo/scripts/$command.sh" ] || { echo "fresh-debian: no scripts/$command.sh" >&2; exit 2; }
done
[ "$(id -u)" = 0 ] || { echo "fresh-debian: mmdebstrap, mount and chroot need root" >&2; exit 2; }
# This script's own tool; the two commands do not need it.
if ! command -v mmdebstrap >/dev/null; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends mmdebstrap
fi
head=$(git -C "$repo" rev-parse HEAD)
mkdir -p "$work"

tree=
mounted=()
release() {
  local point
  for point in "${mounted[@]}"; do umount -R "$point" 2>/dev/null || umount -lR "$point" || true; done
  mounted=()
  # /tmp is bound from this machine's own disk: nothing is removed while
  # anything is still mounted below the tree.
  if [ -n "$tree" ] && ! grep -q " $tree/" /proc/self/mountinfo; then rm -rf --one-file-system "$tree"; fi
  tree=
}
trap release EXIT

results=()
for command in "${commands[@]}"; do
  tree="$work/$command-tree"
  log="$work/$command.log"
  if grep -q " $tree/" /proc/self/mountinfo; then echo "fresh-debian: $tree still has mounts" >&2; exit 1; fi
  rm -rf --one-file-system "$tree"
  echo "fresh-debian: $command: building a minimal Debian 12 tree in $tree"
  mmdebstrap --quiet --variant=minbase --include=git,ca-certificates bookworm "$tree"
  # The tree resolves names as this machine does.
  cp /etc/resolv.conf "$tree/etc/resolv.conf"
  git clone -q --no-checkout "$repo" "$tree/root/ostrilo"
  git -C "$tree/root/ostrilo" checkout -q --detach "$head"
  for point in proc dev sys tmp; do
    case $point in
      proc) mount -t proc proc "$tree/proc" ;;
      # X display numbers are shared with this machine (abstract sockets),
      # so xvfb-run there must see this machine's display locks in /tmp.
      *) mount --rbind "/$point" "$tree/$point" && mount --make-rslave "$tree/$point" ;;
    esac
    mounted=("$tree/$point" "${mounted[@]}")
  done
  echo "fresh-debian: $command: running scripts/$command.sh in the chroot (output in $log)"
  start=$(date +%s)
  status=0
  chroot "$tree" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c 'cd /root/ostrilo && exec scripts/'"$command"'.sh' </dev/null >"$log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  results+=("$(printf 'fresh-debian: scripts/%s.sh on a fresh Debian 12 (%s): exit status %d after %dm%02ds' \
    "$command" "${head:0:12}" "$status" $((seconds / 60)) $((seconds % 60)))")
  echo "${results[-1]}"
  # The demo keeps the set-up's and the build's output in its build folder.
  if [ -f "$tree/root/ostrilo/build/demo-build.log" ]; then cp "$tree/root/ostrilo/build/demo-build.log" "$work/$command-build.log"; fi
  release
done
printf '%s\n' "${results[@]}"
