#!/usr/bin/env bash
# Installs the Debian package with apt into a clean Debian 12 root (made with debootstrap from
# this machine's Debian mirror, kept as build-pkgtest/clean-root.tar for later runs) and runs
# the installed programs there; checks the package with lintian and its desktop files with
# their validators.
#   tools/package-test.sh [PACKAGE.deb]     (default: build-release/tarnvel_*.deb)
set -euo pipefail
# debootstrap, chroot and the /proc mount need root.
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
deb=${1:+$(realpath "$1")}
cd "$(dirname "$0")/.."
./tools/setup.sh >&2

deb=${deb:-$(realpath build-release/tarnvel_*.deb)}
work=$PWD/build-pkgtest
root=$work/root
cache=$work/clean-root.tar
mkdir -p "$work"

unmount() {
  if mountpoint -q "$root/proc"; then umount "$root/proc"; fi
}
trap unmount EXIT
fresh_folder() {
  unmount
  rm -rf --one-file-system "$1"
  mkdir -p "$1"
}
in_root() { chroot "$root" env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# The mirror and suites this machine's apt uses: the clean root gets the same packages as the
# libraries the programs were built against.
sources=/etc/apt/sources.list.d/debian.sources
mirror=$(awk -v RS= '/(^|\n)Suites:[^\n]*[ \t]bookworm([ \t]|\n|$)/ {
           if (match($0, /URIs:[ \t]*[^ \t\n]+/)) { split(substr($0, RSTART, RLENGTH), u, /[ \t]+/); print u[2]; exit } }' \
           "$sources" 2>/dev/null || true)
if [ -z "$mirror" ]; then
  mirror=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
fi
[ -n "$mirror" ] || { echo "no Debian 12 mirror in this machine's apt sources" >&2; exit 1; }

if [ ! -s "$cache" ]; then
  echo "Making a clean Debian 12 root (cached in $cache)" >&2
  fresh_folder "$root"
  # man-db and bash-completion are the test's own tools: they stay out of the package's
  # dependencies, which apt resolves below.
  debootstrap --variant=minbase --include=man-db,bash-completion bookworm "$root" "$mirror" >&2
  rm -f "$root/etc/apt/sources.list"
  if [ -f "$sources" ]; then
    cp "$sources" "$root/etc/apt/sources.list.d/"
  else
    cp /etc/apt/sources.list "$root/etc/apt/"
  fi
  # The machine's own settings for reaching its mirror (a proxy, the date checks of a snapshot).
  apt-config dump | grep -E '^Acquire::(Check-Valid-Until|Check-Date|https?::Proxy) ' \
    > "$root/etc/apt/apt.conf.d/90machine" || true
  mount -t proc proc "$root/proc"
  in_root apt-get update -q >&2
  unmount
  tar -C "$root" -cf "$cache.part" .
  mv "$cache.part" "$cache"
else
  fresh_folder "$root"
  tar -C "$root" -xf "$cache"
fi
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
in_root env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" >&2

# From the installed files only: a folder of its own, no path into the source or build tree.
cat > "$root/tmp/check.sh" <<'EOF'
set -eu
fail() { echo "FAILED: $*"; exit 1; }
touch /tmp/before-run
cd "$(mktemp -d)"
tarnvel-cli sim demo demo.tvs
tarnvel-cli --drive sim:demo.tvs archive T
tarnvel-cli verify T.log
tarnvel-cli --version
QT_QPA_PLATFORM=offscreen tarnvel --version

# Settings in the user's config folder, never beside the program, even for root.
tarnvel-cli settings path | grep -q "$HOME/.config/tarnvel/TV.INI" || fail "settings path"
written=$(find /usr /etc -newer /tmp/before-run -type f)
[ -z "$written" ] || fail "the programs wrote into /usr or /etc: $written"

MANWIDTH=80 man -E ascii -P cat tarnvel-cli | grep -q "tarnvel-cli sim demo" || fail "man tarnvel-cli"
man -E ascii -P cat tarnvel | grep -q "desktop program" || fail "man tarnvel"

# As an interactive shell gets it: bash-completion loads the file when first asked.
offered=$(bash -c '
  . /usr/share/bash-completion/bash_completion
  __load_completion tarnvel-cli
  f=$(complete -p tarnvel-cli | sed -n "s/.*-F \([^ ]*\).*/\1/p")
  COMP_WORDS=(tarnvel-cli ""); COMP_CWORD=1; $f tarnvel-cli "" tarnvel-cli
  printf "%s\n" "${COMPREPLY[@]}"
  COMP_WORDS=(tarnvel-cli sim ""); COMP_CWORD=2; $f tarnvel-cli "" sim
  printf "sim:%s\n" "${COMPREPLY[@]}"')
for word in archive verify sim settings sim:demo; do
  echo "$offered" | grep -qx "$word" || fail "completion does not offer $word"
done

outside=$(dpkg -L tarnvel | grep -Ev '^/(\.|usr|usr/.*|etc|etc/.*)$' || true)
[ -z "$outside" ] || fail "files outside /usr and /etc: $outside"
echo "installed package: all checks passed"
EOF
in_root sh /tmp/check.sh

desktop-file-validate "$root/usr/share/applications/tarnvel.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
unmount
rm -rf --one-file-system "$root"
echo "lintian:"
lintian --fail-on error,warning "$deb"
echo "lintian: no errors, no warnings"
