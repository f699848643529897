#!/usr/bin/env bash
# Builds the Debian package from a build tree into a temporary folder (as make deb does, without
# lintian) and checks it: everything under /usr, the files the program and the menu need, the
# desktop entry naming /usr/bin/zelka, the library packages found by dpkg-shlibdeps beside the
# run-time ones named by hand.
#   check_deb.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >/dev/null
debs=("$out"/zelka_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "no single zelka_*.deb was made"
deb=${debs[0]}

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
outside=$(grep -v '^\./usr/' <<<"$files" | grep -v '^\./$' || true)
[[ -z $outside ]] || fail "files outside /usr: $outside"
expected=(usr/bin/zelka usr/share/zelka/Zelka.dat usr/share/zelka/readme.htm
          usr/share/man/man1/zelka.1.gz usr/share/doc/zelka/copyright
          usr/share/doc/zelka/changelog.gz usr/share/applications/example.orvane.zelka.desktop
          usr/share/icons/hicolor/scalable/apps/example.orvane.zelka.svg
          usr/share/metainfo/example.orvane.zelka.metainfo.xml)
[[ -x $build/rank/zelka-rank ]] && expected+=(usr/bin/zelka-rank usr/share/man/man1/zelka-rank.1.gz)
for f in "${expected[@]}"; do
  grep -qx "\./$f" <<<"$files" || fail "$f is not in the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
for p in libqt6widgets6 libpci3 libwayland-client0 libepoxy0 libegl1 qt6-qpa-plugins qt6-wayland fonts-ipafont-gothic xdg-utils; do
  grep -q "\b$p\b" <<<"$depends" || fail "Depends lacks $p: $depends"
done

dpkg-deb -x "$deb" "$out/root"
exec_line=$(grep '^Exec=' "$out/root/usr/share/applications/example.orvane.zelka.desktop")
[[ $exec_line == "Exec=/usr/bin/zelka" ]] || fail "the menu entry runs $exec_line"
"$out/root/usr/bin/zelka" --help | grep -q -- '--run' || fail "the packaged program does not run"
echo "package check passed: $(basename "$deb")"
