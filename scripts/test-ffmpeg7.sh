#!/usr/bin/env bash
# Builds this tree and runs the whole suite against FFmpeg 7.1, inside a
# Debian 13 root made once with debootstrap and kept outside the tree.
# The tree is bind-mounted at its own path and built into build-ffmpeg7, so
# the host's build is untouched; the real-world corpus comes along when it
# is there. Needs root (debootstrap, chroot, mounts), as CI has.
# Usage: test-ffmpeg7.sh            build and run every test
#        test-ffmpeg7.sh CMD ARG... run CMD in the tree inside the root
# Environment: FLATAV_FFMPEG7_ROOT (where the root is kept),
#              FLATAV_DEBIAN_MIRROR, FLATAV_CORPUS, JOBS.
set -euo pipefail
say() { echo "test-ffmpeg7: $*"; }
fail() { echo "test-ffmpeg7: $*" >&2; exit 1; }

# Without root nothing can be checked, and a check that did not run must not
# read as passed: stop before touching anything, with a failing status.
if [ "$(id -u)" -ne 0 ]; then
  fail "needs root to make the Debian 13 root and chroot into it (CI runs as root);" \
    "nothing was built or tested"
fi

src=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/flatav
root=${FLATAV_FFMPEG7_ROOT:-$cache/debian13-root}
mirror=${FLATAV_DEBIAN_MIRROR:-http://deb.debian.org/debian}
corpus=${FLATAV_CORPUS:-$src/../shared/corpus}
jobs=${JOBS:-$(nproc)}
# What `make test` installs on the host, and what the root lacks beside it
# (`script`, and the callgrind benchmarks' tools); a change of the list
# installs into the kept root on the next run.
packages="$(make -s --no-print-directory -C "$src" print-packages)
  make bsdutils bsdextrautils valgrind python3 bc"
packages=$(echo $packages)  # one line, as the stamp keeps it

# Mounts are made in a mount namespace of this run's own, so none outlives
# it even when it is killed; the trap below unmounts them all the same.
if [ -z "${FLATAV_FFMPEG7_NS:-}" ] && unshare --mount --propagation private true 2>/dev/null; then
  FLATAV_FFMPEG7_NS=1 exec unshare --mount --propagation private bash "$0" "$@"
fi

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
}
trap unmount_all EXIT
trap 'exit 130' INT TERM
bind() {  # bind SOURCE TARGET [ro]: mounts SOURCE at TARGET inside the root
  mkdir -p "$2"
  mount --bind "$1" "$2"
  mounted+=("$2")
  [ "${3:-}" != ro ] || mount -o remount,bind,ro "$2"
}
mounts_under() { awk -v p="$1/" 'index($2, p) == 1 { print $2 }' /proc/self/mounts; }
in_root() {  # in_root CMD...: runs CMD in the root with a clean environment
  chroot "$1" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-xterm}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive "${@:2}"
}
# The root keeps the device nodes debootstrap made and gets terminals of its
# own (`script` gives the tool one): nothing run inside can touch the host's
# /dev.
system_mounts() {  # what apt and the tests need of a running system
  mkdir -p "$1/proc" "$1/dev/pts"
  mount -t proc proc "$1/proc"
  mounted+=("$1/proc")
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$1/dev/pts"
  mounted+=("$1/dev/pts")
  cp /etc/resolv.conf "$1/etc/resolv.conf"
}

# One run at a time per root: a second waits rather than sharing a half-made one.
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock 9

# debootstrap fills a directory of its own that becomes the root only once
# it has finished, so an interrupted one is found and made anew; the
# packages are installed again until the stamp that lists them is written.
stamp="$root/.flatav-packages"
started=$SECONDS
if [ ! -d "$root" ]; then
  partial="$root.partial"
  [ -z "$(mounts_under "$partial")" ] || fail "something is still mounted under $partial; unmount it first"
  rm -rf --one-file-system "$partial"
  bash "$src/scripts/install-deps.sh" debootstrap
  say "making a Debian 13 root in $root from $mirror (once)"
  debootstrap --variant=minbase trixie "$partial" "$mirror" >"$root.log" 2>&1 ||
    { tail -n 20 "$root.log" >&2; fail "debootstrap failed (log: $root.log)"; }
  echo "deb $mirror trixie main" >"$partial/etc/apt/sources.list"
  mv "$partial" "$root"
fi
if [ "$(cat "$stamp" 2>/dev/null)" != "$packages" ]; then
  say "installing into the root: $packages"
  system_mounts "$root"
  # shellcheck disable=SC2086 # the list is words
  { in_root "$root" dpkg --configure -a &&
    in_root "$root" apt-get update &&
    in_root "$root" apt-get install -y --no-install-recommends $packages &&
    in_root "$root" apt-get clean; } >>"$root.log" 2>&1 ||
    { tail -n 20 "$root.log" >&2; fail "installing the packages failed (log: $root.log)"; }
  unmount_all
  echo "$packages" >"$stamp"
fi
say "root ready in $((SECONDS - started)) s: $(in_root "$root" ffmpeg -hide_banner -version | head -n 1)," \
  "$(in_root "$root" g++ --version | head -n 1)"

system_mounts "$root"
bind "$src" "$root$src"
corpus_env=()
if [ -d "$corpus" ]; then
  corpus=$(cd "$corpus" && pwd)
  bind "$corpus" "$root$corpus" ro
  corpus_env=(FLATAV_CORPUS="$corpus")
fi

if [ $# -gt 0 ]; then
  in_root "$root" "${corpus_env[@]}" JOBS="$jobs" bash -c 'cd "$1" && shift && exec "$@"' - "$src" "$@"
  exit
fi
started=$SECONDS
build="$src/build-ffmpeg7"
in_root "$root" cmake -S "$src" -B "$build" -G Ninja >/dev/null
in_root "$root" cmake --build "$build" -j "$jobs"
say "built in $((SECONDS - started)) s"
started=$SECONDS
in_root "$root" "${corpus_env[@]}" ctest --test-dir "$build" --output-on-failure -j "$jobs"
say "tests ran in $((SECONDS - started)) s"
