# Sourced by tools/setup-debian.sh: installs packages with apt, riding out a
# package registry caught between two syncs, where one index (the security
# suite's i386 Packages, say) is missing or half written.
#   apt_install <codename> <package>...
# Runs apt-get through $sudo ("" or "sudo"). Where wine32:i386 alone cannot
# be installed, the rest is, and the one-line reason goes to the file
# $wine32_note, which tools/wine-env.sh shows as the reason to skip.

# Output of the last apt_get_install.
apt_out=

apt_get_install() {
  apt_out=$($sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" 2>&1)
}

# The line of apt's output that says why it failed: the first naming
# $1 (where given), else its last error.
apt_reason() {
  local line=
  [ -z "${1:-}" ] || line=$(grep -m 1 -F -- "$1" <<< "$apt_out") || true
  [ -n "$line" ] || line=$(grep '^E: ' <<< "$apt_out" | tail -n 1) || true
  [ -n "$line" ] || line=$(tail -n 1 <<< "$apt_out")
  printf '%s\n' "${line#"${line%%[! ]*}"}"
}

apt_update() {
  local out status=0
  out=$($sudo apt-get update -qq -o Acquire::Retries=3 2>&1) || status=$?
  if [ "$status" -eq 0 ]; then
    [ -z "$out" ] || printf '%s\n' "$out"
    return 0
  fi
  # Indexes that still fail after the retries are left out: apt keeps every
  # one it did fetch. Any other failure (a broken source list, a held lock)
  # stops the set-up.
  if ! grep -q '^[EW]: Failed to fetch ' <<< "$out"; then
    printf '%s\n' "$out" >&2
    echo "setup: apt-get update failed with exit code $status" >&2
    return 1
  fi
  echo "setup: warning: apt-get update could not fetch these indexes (is the registry between two syncs?); going on with the rest:" >&2
  grep '^[EW]: Failed to fetch ' <<< "$out" | sed 's/^[EW]: /setup: warning: /' >&2
}

apt_install() {
  local codename=$1 package rest=() target=() why
  shift
  apt_update || return
  echo "setup: installing $*; this may take a few minutes"
  apt_get_install "$@" && return 0
  # The amd64 half of a Multi-Arch: same library may come from a suite whose
  # i386 index is missing, and wine32:i386 needs both at one version. The
  # release's own suite has them for both. -t never downgrades what is
  # installed (that would need --allow-downgrades, never given here).
  if [ -n "$codename" ]; then
    target=(-t "$codename")
    echo "setup: warning: apt-get install: $(apt_reason)" >&2
    echo "setup: trying once more with the release's own versions (apt-get install -t $codename)"
    apt_get_install "${target[@]}" "$@" && return 0
  fi
  for package; do
    [ "$package" = wine32:i386 ] || rest+=("$package")
  done
  if [ "${#rest[@]}" -lt "$#" ]; then
    why="32-bit Wine (wine32:i386) could not be installed: $(apt_reason wine32)"
    if [ "${#rest[@]}" -eq 0 ] || apt_get_install "${target[@]}" "${rest[@]}"; then
      mkdir -p "$(dirname "$wine32_note")" && printf '%s\n' "$why" > "$wine32_note"
      echo "setup: warning: $why; the demo shows the 64-bit build, and the 32-bit Wine tests are skipped" >&2
      return 0
    fi
  fi
  printf '%s\n' "$apt_out" >&2
  echo "setup: apt-get install failed (above)" >&2
  return 1
}
