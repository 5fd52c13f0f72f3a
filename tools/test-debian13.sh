#!/usr/bin/env bash
# The two README commands on a fresh Debian 13 (trixie): debootstraps a
# minimal system into a folder under the temp folder, clones this
# repository's committed state into it and runs tools/demo.sh and
# tools/test.sh there, as root without sudo and with TMPDIR set.
# About 10 minutes after the download. Needs root, mounts, chroot and the
# Debian mirror of this machine's apt sources: where one is missing it says
# that it skipped and why, and exits 0.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
release=trixie

skip() {
  echo "skipped: the Debian 13 check: $*"
  exit 0
}

# The mirror this machine's apt takes its own release from, so that no
# address is written down here: the first plain suite (no -updates,
# -security) of a deb entry, preferring this machine's own release.
debian_mirror() {
  local codename
  codename=$(. /etc/os-release 2> /dev/null && echo "${VERSION_CODENAME:-}") || codename=
  {
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$list" ] || continue
      sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$list" | awk '$1 == "deb" { print $2, $3 }'
    done
    for sources in /etc/apt/sources.list.d/*.sources; do
      [ -f "$sources" ] || continue
      awk 'BEGIN { RS = ""; FS = "\n" }
        {
          types = uris = suites = ""; enabled = "yes"
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^#/ || $i !~ /:/) continue
            name = tolower(substr($i, 1, index($i, ":") - 1))
            value = substr($i, index($i, ":") + 1)
            if (name == "types") types = value
            else if (name == "uris") uris = value
            else if (name == "suites") suites = value
            else if (name == "enabled") enabled = tolower(value)
          }
          if (types !~ /(^| )deb( |$)/ || enabled ~ /no/) next
          n = split(uris, u, " "); m = split(suites, s, " ")
          for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j]
        }' "$sources"
    done
  } | awk -v codename="$codename" '
    $1 !~ /^https?:\/\// || $2 ~ /[-\/]/ { next }
    $2 == codename { print $1; found = 1; exit }
    first == "" { first = $1 }
    END { if (!found && first != "") print first }'
}

[ "$(id -u)" -eq 0 ] || skip "it needs root for debootstrap, mount and chroot"
command -v debootstrap > /dev/null || skip "debootstrap is not installed (tools/setup-debian.sh installs it)"
mirror=$(debian_mirror)
[ -n "$mirror" ] || skip "no Debian mirror found in /etc/apt/sources.list or /etc/apt/sources.list.d"

# Without symlinks: the clean-up finds what runs inside by this path.
work=$(cd "$(mktemp -d "${TMPDIR:-/tmp}/quillset-debian13.XXXXXX")" && pwd -P)
root=$work/root
mounted=()

# Every mount is undone and the folder removed on every way out; the folder
# is removed only when nothing is mounted below it any more, so the host's
# /dev can never be deleted through a bind.
cleanup() {
  local status=$? pid i
  trap - EXIT INT TERM
  # Wine's server or a build left running inside would keep the mounts busy.
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2> /dev/null)" != "$root" ] || kill -KILL "${pid#/proc/}" 2> /dev/null || true
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2> /dev/null || umount -l "${mounted[i]}" || true
  done
  if awk -v root="$root" 'index($2, root) == 1 { busy = 1 } END { exit !busy }' /proc/self/mounts; then
    echo "the Debian 13 check: $root still has mounts; left in place" >&2
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir "$root"
mount --bind "$root" "$root" 2> /dev/null || skip "this machine cannot mount (no CAP_SYS_ADMIN, as in most containers)"
umount "$root"

echo "== Debian 13: debootstrap $release into $root"
start=$(date +%s)
# A mirror's passing hiccup gets one more try; then a failure is a failure,
# not a skip: this machine can mount, so Debian 13 must be tested.
for try in 1 2; do
  debootstrap --variant=minbase --include=ca-certificates "$release" "$root" "$mirror" \
    > "$work/debootstrap.log" 2>&1 && break
  tail -n 20 "$work/debootstrap.log"
  [ "$try" = 1 ] || { echo "test-debian13: debootstrap of $release failed twice (above)" >&2; exit 1; }
  echo "== Debian 13: debootstrap failed; trying once more"
  rm -rf --one-file-system "$root" && mkdir "$root"
done
echo "debootstrap took $(($(date +%s) - start)) s"
chroot "$root" /bin/true 2> /dev/null || skip "this machine cannot chroot"

for dir in /proc /sys /dev /dev/pts /dev/shm; do
  [ -d "$dir" ] || continue
  mkdir -p "$root$dir"
  mount --bind "$dir" "$root$dir"
  mounted+=("$root$dir")
  # Where the host's mounts are shared (systemd), the binds below would
  # otherwise appear on the host's own /dev as well.
  mount --make-rslave "$root$dir"
done
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

commit=$(git -C "$top" rev-parse HEAD)
[ -z "$(git -C "$top" status --porcelain)" ] ||
  echo "note: uncommitted changes are not tested; the clone is of commit $commit"
git clone --quiet --no-checkout "$top" "$root/root/quillset"
git -C "$root/root/quillset" checkout --quiet --detach "$commit"

# As a user would: a login shell's variables only, TMPDIR among them, and no
# locale, as a fresh container or a bare chroot gives.
in_debian13() {
  chroot "$root" /usr/bin/env -i HOME=/root TMPDIR=/tmp \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/quillset && $1" < /dev/null
}

failed=()
for command in tools/demo.sh tools/test.sh; do
  echo "== Debian 13: $command"
  start=$(date +%s)
  # In the background, so that a TERM or Ctrl+C is acted on at once, not
  # after the command: the clean-up then ends what runs inside.
  in_debian13 "$command" &
  if wait $!; then
    echo "== Debian 13: $command passed in $(($(date +%s) - start)) s"
  else
    echo "== Debian 13: $command FAILED"
    failed+=("$command")
  fi
done

[ "${#failed[@]}" -eq 0 ] || { echo "Debian 13 check: ${failed[*]} failed"; exit 1; }
echo "Debian 13 check: tools/demo.sh and tools/test.sh passed"
