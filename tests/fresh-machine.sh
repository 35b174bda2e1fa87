#!/usr/bin/env bash
# Runs the README's two commands on a bare Debian 12: a minimal root made
# with mmdebstrap (the essential packages, apt and sudo), into which the
# committed HEAD of this checkout is cloned. The first command runs as root,
# the second as a user who may use sudo, each in a clean environment, as a
# person would paste them. Needs root, mmdebstrap and the Debian mirror; takes
# a few minutes (most of it the second command's build and tests).
#
#   bash tests/fresh-machine.sh [FOLDER]    (the root is made in FOLDER, by
#                                            default a new temporary folder,
#                                            and removed at the end)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

# The first fenced block of the README: its command lines, exactly two.
mapfile -t commands < <(awk '/^```/ { if (inside) exit; inside = 1; next } inside' "$repo/README.md")
if [ ${#commands[@]} -ne 2 ]; then
  echo "fresh-machine: the README's first block has ${#commands[@]} lines, not two commands" >&2
  exit 1
fi

root=${1:-$(mktemp -d)}
cleanup() {
  local status=$?
  for mount in "$root/dev" "$root/proc"; do
    if mountpoint -q "$mount"; then
      umount -R "$mount" || umount -R -l "$mount"
    fi
  done
  # Never removes anything while a mount is left inside (/dev!).
  if ! grep -q " $root/" /proc/mounts; then
    rm -rf --one-file-system "$root"
  else
    echo "fresh-machine: mounts are left under $root; not removed" >&2
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM

started=$SECONDS
mmdebstrap --quiet --variant=minbase --include=sudo bookworm "$root"
echo "fresh-machine: root made in $((SECONDS - started)) s"

# As an installed system has: its name in /etc/hosts (sudo looks it up), and
# a user who may use sudo.
printf '127.0.1.1\t%s\n' "$(hostname)" >> "$root/etc/hosts"
chroot "$root" useradd --create-home --shell /bin/bash user
echo 'user ALL=(ALL) NOPASSWD: ALL' > "$root/etc/sudoers.d/user"
chmod 0440 "$root/etc/sudoers.d/user"
# The commit checked out here, whether or not a branch points at it.
checkout=/home/user/runekit
git init -q "$root$checkout"
git -C "$root$checkout" fetch -q "$repo" "$(git -C "$repo" rev-parse HEAD)"
git -C "$root$checkout" checkout -q FETCH_HEAD
chroot "$root" chown -R user:user "$checkout"

mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"

clean_env=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb)
step=$SECONDS
echo "fresh-machine: as root: ${commands[0]}"
chroot "$root" "${clean_env[@]}" HOME=/root bash -c "cd $checkout && ${commands[0]}"
echo "fresh-machine: the first command took $((SECONDS - step)) s"
# Built without the tests, the first command makes the four programs and nothing else.
built=$(ls "$root$checkout/build/bin" | tr '\n' ' ')
if [ "$built" != "RuneAnatomy runeflip runepair runetally " ]; then
  echo "fresh-machine: the first command built $built, not just the four programs" >&2
  exit 1
fi
step=$SECONDS
echo "fresh-machine: as a user with sudo: ${commands[1]}"
chroot "$root" "${clean_env[@]}" HOME=/home/user runuser -u user -- bash -c "cd $checkout && ${commands[1]}"
echo "fresh-machine: the second command took $((SECONDS - step)) s; $((SECONDS - started)) s in all"
