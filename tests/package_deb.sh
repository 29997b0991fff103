#!/bin/sh
# Builds the Debian package of the build tree $1 with CPack, unpacks it into a
# scratch root with dpkg -x and checks what a unit gets.
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
deb="$(ls "$WORK"/out/helix_*_"$arch".deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || { ls -R "$WORK/out"; echo "FAIL: no helix_*_$arch.deb"; exit 1; }
root="$WORK/root"
dpkg -x "$deb" "$root" || { echo "FAIL: dpkg -x"; exit 1; }
dpkg-deb -e "$deb" "$WORK/control" || { echo "FAIL: dpkg-deb -e"; exit 1; }
ctl="$WORK/control/control"

check "Package: helix" grep -qx "Package: helix" "$ctl"
check "Architecture: $arch" grep -qx "Architecture: $arch" "$ctl"
for dep in libc6 libstdc++6 libfreetype6 libpng16-16 libusb-1.0-0 libssl3 libglib2.0-0 \
    libasound2 libopus0 fonts-dejavu-core fonts-paratype; do
    check "Depends names $dep" sh -c "sed -n 's/^Depends: //p' '$ctl' | tr ',' '\n' |
        sed 's/^ *//; s/ .*//' | grep -qxF '$dep'"
done
check "postinst is executable" test -x "$WORK/control/postinst"

# The program, for this machine, and every library it needs is found.
check "usr/bin/helix executable" test -x "$root/usr/bin/helix"
check "usr/bin/helix is an ELF program" sh -c "head -c 4 '$root/usr/bin/helix' | grep -q ELF"
check "usr/bin/helix has its libraries" sh -c "! ldd '$root/usr/bin/helix' | grep -q 'not found'"

# The panel pictures, as PNG files.
for p in start start120 statusB status img1 img1b img3 img3b m5a; do
    f="$root/usr/share/helix/$p.png"
    check "picture $p.png" sh -c "head -c 8 '$f' | od -An -tx1 | grep -q '89 50 4e 47 0d 0a 1a 0a'"
done

# Font links to Debian's PT Sans, under the names the controller loads.
for face in PTS55F PTS75F; do
    l="$root/usr/share/helix/fonts/${face}_W.ttf"
    check "font link ${face}_W.ttf" test -L "$l"
    check "font link ${face}_W.ttf target" \
        test "$(readlink "$l")" = "/usr/share/fonts/truetype/paratype/$face.ttf"
done

# The service unit: program, working directory with the pictures, restarts, journal.
unit="$root/usr/lib/systemd/system/helix.service"
[ -f "$unit" ] || unit="$root/lib/systemd/system/helix.service"
check "helix.service present" test -f "$unit"
for line in "ExecStart=/usr/bin/helix" "WorkingDirectory=/usr/share/helix" \
    "Restart=on-failure" "StandardOutput=journal" "StandardError=journal" \
    "After=local-fs.target" "WantedBy=multi-user.target"; do
    check "helix.service: $line" grep -qx "$line" "$unit"
done

check "README in the documentation" test -s "$root/usr/share/doc/helix/README.md"
check "nothing under usr/local" test ! -e "$root/usr/local"
check "no build paths in the unit" sh -c "! grep -q '$BUILD' '$unit'"

[ "$fail" -eq 0 ] && echo "package $(basename "$deb") checked"
exit "$fail"
