#!/bin/sh
# Builds the Debian package of the build tree $1 with CPack, runs lintian on
# it, and installs, upgrades, removes and purges it in throwaway roots with
# dpkg --root; the maintainer scripts run outside a chroot with $DPKG_ROOT set
# (--force-script-chrootless), so no systemd is started or stopped and no
# network or root file system is needed.
set -u
BUILD="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail=0
check() { # description, command...
    what="$1"; shift
    if ! "$@" >/dev/null 2>&1; then echo "FAIL: $what"; fail=1; fi
}

cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1 || {
    cat "$WORK/cpack.log"; echo "FAIL: cpack"; exit 1; }
arch="$(dpkg --print-architecture)"
version="$(cat "$(dirname "$0")/../VERSION")"
deb="$WORK/out/helix_${version}_$arch.deb"
[ -f "$deb" ] || { ls -R "$WORK/out"; echo "FAIL: no helix_${version}_$arch.deb"; exit 1; }
check "debug symbols in helix-dbgsym" test -f "$WORK/out/helix-dbgsym_${version}_$arch.ddeb"
dpkg-deb -e "$deb" "$WORK/control" || { echo "FAIL: dpkg-deb -e"; exit 1; }
ctl="$WORK/control/control"
for dep in libc6 libstdc++6 libfreetype6 libpng16-16 libusb-1.0-0 libssl3 libglib2.0-0 \
    libasound2 libopus0 libsystemd0 fonts-dejavu-core fonts-paratype mount; do
    check "Depends names $dep" sh -c "sed -n 's/^Depends: //p' '$ctl' | tr ',' '\n' |
        sed 's/^ *//; s/ .*//' | grep -qxF '$dep'"
done

# lintian: no error and no warning (docs/package.md lists the remaining notes).
if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error,warning "$deb" >"$WORK/lintian.log" 2>&1 || {
        cat "$WORK/lintian.log"; echo "FAIL: lintian"; fail=1; }
else
    echo "FAIL: lintian is not installed (scripts/deps.sh installs it)"; fail=1
fi

# A root that dpkg can install into.
newroot() {
    mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates" "$1/var/log"
    touch "$1/var/lib/dpkg/status" "$1/var/lib/dpkg/available"
}
dpkgr() { # root, dpkg arguments...
    r="$1"; shift
    dpkg --root="$r" --force-script-chrootless --force-not-root --force-depends \
        --force-unsafe-io --log="$WORK/dpkg.log" "$@" >>"$WORK/dpkg.out" 2>&1
}
wants=etc/systemd/system/multi-user.target.wants/helix.service

# Install: the files, the unit enabled, /opt/set made, the program runs.
root="$WORK/root"
newroot "$root"
check "dpkg -i" dpkgr "$root" -i "$deb"
check "usr/bin/helix has its libraries" sh -c "! ldd '$root/usr/bin/helix' | grep -q 'not found'"
check "helix --version from the installed path" \
    test "$("$root/usr/bin/helix" --version)" = "helix $version"
for p in start start120 statusB status img1 img1b img3 img3b m5a; do
    f="$root/usr/share/helix/$p.png"
    check "picture $p.png" sh -c "head -c 8 '$f' | od -An -tx1 | grep -q '89 50 4e 47 0d 0a 1a 0a'"
done
for face in PTS55F PTS75F; do
    check "font link ${face}_W.ttf" \
        test "$(readlink "$root/usr/share/helix/fonts/${face}_W.ttf")" = "../../fonts/truetype/paratype/$face.ttf"
    check "/opt/fonts/${face}_W.ttf" test -L "$root/opt/fonts/${face}_W.ttf"
done
for f in copyright changelog.gz README.md; do
    check "usr/share/doc/helix/$f" test -s "$root/usr/share/doc/helix/$f"
done
check "manual page helix(8)" test -s "$root/usr/share/man/man8/helix.8.gz"
check "/opt/set created" test -d "$root/opt/set"
check "unit enabled" test -L "$root/$wants"
unit="$root/usr/lib/systemd/system/helix.service"
for line in "ExecStart=/usr/bin/helix" "WorkingDirectory=/usr/share/helix" \
    "Restart=on-failure" "RestartPreventExitStatus=2" "WantedBy=multi-user.target" \
    "Type=notify" "WatchdogSec=30"; do
    check "helix.service: $line" grep -qx "$line" "$unit"
done
check "no build paths in the unit" sh -c "! grep -q '$BUILD' '$unit'"
check "systemd-analyze verify" \
    systemd-analyze verify --man=no --recursive-errors=no --root="$root" helix.service
check "systemd-analyze security at most 6.0" \
    systemd-analyze security --offline=true --threshold=60 "$unit"
check "nothing under usr/local" test ! -e "$root/usr/local"

# Upgrade from a previous version (this package as 0.0.1) with settings in
# place, then remove and purge: the settings stay, /etc/systemd is left empty.
old="$WORK/old"
dpkg-deb -R "$deb" "$old" && sed -i "s/^Version: .*/Version: 0.0.1/" "$old/DEBIAN/control" &&
    dpkg-deb -b "$old" "$WORK/helix_0.0.1.deb" >/dev/null || { echo "FAIL: old package"; exit 1; }
root="$WORK/upgrade"
newroot "$root"
check "dpkg -i the previous version" dpkgr "$root" -i "$WORK/helix_0.0.1.deb"
printf 'EnableKeyb: 0\n' >"$root/opt/set/setup.txt"
check "dpkg -i upgrades" dpkgr "$root" -i "$deb"
check "upgraded to $version" sh -c "dpkg --root='$root' -s helix | grep -qx 'Version: $version'"
check "still enabled after the upgrade" test -L "$root/$wants"
check "dpkg -r" dpkgr "$root" -r helix
check "program removed" test ! -e "$root/usr/bin/helix"
check "dpkg -P" dpkgr "$root" -P helix
check "nothing left under /etc/systemd" test -z "$(find "$root/etc/systemd" ! -type d 2>/dev/null)"
check "settings kept" test "$(cat "$root/opt/set/setup.txt")" = "EnableKeyb: 0"
check "purge says the settings stay" grep -q "settings in /opt/set are kept" "$WORK/dpkg.out"

[ "$fail" -eq 0 ] && [ -z "${HELIX_PACKAGE_VERBOSE:-}" ] || cat "$WORK/dpkg.out"
[ "$fail" -eq 0 ] && echo "package $(basename "$deb") checked"
exit "$fail"
