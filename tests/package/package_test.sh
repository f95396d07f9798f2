#!/usr/bin/env bash
# The Debian package as a user meets it: what it holds, installing it with apt-get, running both
# programs from where it put them, and removing it without a trace.
#   tests/package/package_test.sh build/tunalo_VERSION_amd64.deb
# It installs the package system-wide, so it needs root (or sudo without a password) and a
# machine where Tunalo is not installed already; otherwise it is skipped (exit code 77). Tunalo
# runs on the display in DISPLAY with the XDG folders of the calling environment.
set -euo pipefail
deb=$(realpath "$1")
skip() {
    echo "package test skipped: $*"
    exit 77
}
fail() {
    echo "package test FAILED: $*" >&2
    exit 1
}

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || skip "needs root or sudo without a password"
    sudo=(sudo -n)
fi
[ -f "$deb" ] || fail "no package at $1; run scripts/package"
if dpkg-query -W -f='${Status}' tunalo 2>/dev/null | grep -q 'install ok installed'; then
    skip "tunalo is installed on this machine already, and this test would remove it"
fi
[ -n "${DISPLAY:-}" ] || skip "needs a desktop in DISPLAY"

# What the package must carry.
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
expected=(
    /usr/bin/tunalo
    /usr/bin/tunalo-service
    /usr/bin/tunalo-engine
    /usr/share/applications/tunalo.desktop
    /usr/share/metainfo/org.example.tunalo.metainfo.xml
    /usr/share/doc/tunalo/README.md
    /usr/share/doc/tunalo/copyright
    /usr/share/doc/tunalo/changelog.gz
    /usr/lib/systemd/system/tunalo-service.service
)
for size in 16 24 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/tunalo.png")
done
for file in "${expected[@]}"; do
    grep -qxF "$file" <<<"$contents" || fail "the package lacks $file"
done
# Installed, not enabled: nothing that would start the service at boot.
if grep -q '^/etc/systemd' <<<"$contents"; then
    fail "the package enables a unit: $(grep '^/etc/systemd' <<<"$contents")"
fi
files=$(grep -v '/$' <<<"$contents")

apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -q)
remove() {
    "${apt[@]}" purge tunalo >/dev/null 2>&1 || true
}
trap remove EXIT
"${apt[@]}" install --no-install-recommends "$deb" >/dev/null || fail "apt-get install $deb failed"

/usr/bin/tunalo-service --help | grep -q '^Usage: tunalo-service' || fail "tunalo-service --help"
unit=/usr/lib/systemd/system/tunalo-service.service
grep -q '^ExecStart=/usr/bin/tunalo-service --listen 127.0.0.1:' $unit || fail "the unit does not start the installed service on loopback"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify --man=no $unit ||
        fail "systemd finds fault with the service's unit"
fi
grep -qx 'Exec=tunalo' /usr/share/applications/tunalo.desktop || fail "the menu entry does not start tunalo"

# The installed program starts on the desktop and takes the single-instance lock.
runtime=$(mktemp -d)
chmod 700 "$runtime"
XDG_RUNTIME_DIR=$runtime /usr/bin/tunalo >"$runtime/log" 2>&1 &
program=$!
for _ in $(seq 300); do
    [ "$(cat "$runtime/tunalo.lock" 2>/dev/null)" = "$program" ] && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
started=$(cat "$runtime/tunalo.lock" 2>/dev/null || true)
# Its window is shown at start, so it starts its browser engine, the one installed beside it.
engine=""
for _ in $(seq 300); do
    engine=$(pgrep -P "$program" -x tunalo-engine || true)
    [ -n "$engine" ] && break
    sleep 0.1
done
engineBinary=$(readlink "/proc/$engine/exe" 2>/dev/null || true)
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
[ "$started" = "$program" ] || fail "the installed tunalo did not start: $(cat "$runtime/log")"
[ "$engineBinary" = /usr/bin/tunalo-engine ] || fail "the installed tunalo did not start /usr/bin/tunalo-engine: $(cat "$runtime/log")"
# Ended, Tunalo takes its engine with it.
for _ in $(seq 100); do
    kill -0 "$engine" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$engine" 2>/dev/null && fail "the browser engine outlived the program that started it"
rm -rf "$runtime"

"${apt[@]}" purge tunalo >/dev/null || fail "apt-get purge tunalo failed"
trap - EXIT
left=()
while read -r file; do
    [ -e "$file" ] && left+=("$file")
done <<<"$files"
[ -e /usr/share/doc/tunalo ] && left+=(/usr/share/doc/tunalo)
[ ${#left[@]} -eq 0 ] || fail "removing the package left ${left[*]}"
echo "package test passed: $(basename "$deb") holds ${#expected[@]} expected files, installs, runs and goes away"
