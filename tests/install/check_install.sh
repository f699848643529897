#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installation: its files, the
# desktop entry (naming the installed program by its full path) and AppStream metadata against
# their validators, the manual pages (they render without a warning and name every option
# --help lists), and a run from another
# folder that writes nothing into the prefix and keeps everything in the user's data folder;
# then the report in the terminal shows two stored results side by side.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'chmod -R u+w "$root"; rm -rf "$root"' EXIT
# A space in the prefix: the desktop entry's Exec line must quote the path.
prefix="$root/the prefix" data=$root/data home=$root/home work=$root/work
mkdir -p "$home" "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/zelka share/zelka/Zelka.dat share/zelka/readme.htm \
         share/applications/example.orvane.zelka.desktop \
         share/icons/hicolor/scalable/apps/example.orvane.zelka.svg \
         share/metainfo/example.orvane.zelka.metainfo.xml share/man/man1/zelka.1.gz; do
  [[ -f $prefix/$f ]] || fail "$f is not installed"
done
# The ranking service is installed with its page and its systemd unit wherever it was built;
# the unit starts the installed service.
if [[ -x $build/rank/zelka-rank ]]; then
  for f in bin/zelka-rank share/man/man1/zelka-rank.1.gz lib/systemd/system/zelka-rank.service; do
    [[ -f $prefix/$f ]] || fail "$f is not installed"
  done
  unit=$prefix/lib/systemd/system/zelka-rank.service
  grep -qF "ExecStart=\"$prefix/bin/zelka-rank\" " "$unit" ||
    fail "the unit does not start the installed service: $(grep '^ExecStart=' "$unit")"
  if command -v systemd-analyze >/dev/null; then
    # Only the unit's own faults count: the manual page is not where man looks in this prefix.
    problems=$(systemd-analyze verify "$unit" 2>&1 | grep -v "man zelka-rank(1)" || true)
    [[ -z $problems ]] || fail "systemd-analyze verify: $problems"
    # Least privilege: an exposure of 2.0 or below (the threshold counts tenths).
    systemd-analyze security --offline=true --threshold=20 "$unit" >/dev/null 2>&1 ||
      fail "the unit's exposure is above 2.0: $(systemd-analyze security --offline=true "$unit" 2>&1 | tail -1)"
  fi
fi
entry=$prefix/share/applications/example.orvane.zelka.desktop
desktop-file-validate "$entry"
[[ $(grep '^Exec=' "$entry") == "Exec=\"$prefix/bin/zelka\"" ]] ||
  fail "the desktop entry does not start the installed program: $(grep '^Exec=' "$entry")"
for page in "$prefix"/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$(basename "$page") renders with warnings: $warnings"
done
manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/zelka.1.gz" 2>/dev/null)
options=$("$prefix/bin/zelka" --help | grep -oE '^ +(-[a-z], )?--[a-z-]+' | grep -oE -- '--[a-z-]+')
[[ -n $options ]] || fail "--help lists no option"
for option in $options; do
  grep -q -- "$option" <<<"$manual" || fail "zelka(1) does not describe $option"
done
appstreamcli validate --no-net "$prefix/share/metainfo/example.orvane.zelka.metainfo.xml"

chmod -R a-w "$prefix"
listing() { find "$prefix" -printf '%p %s %T@\n' | sort; }
before=$(listing)
run() { (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_DATA_HOME="$data" \
  QT_QPA_PLATFORM=offscreen "$prefix/bin/zelka" "$@"); }
run --run --tests disk >"$root/out.txt" 2>"$root/err.txt" || fail "the run failed: $(cat "$root/err.txt")"
[[ "$(listing)" == "$before" ]] || fail "the run wrote into the installation"
[[ -d $data/zelka/Report ]] || fail "no Report folder in the data folder"
# After the disk test the result file is in the program's folder, the data folder.
[[ -f $data/zelka/result.txt ]] || fail "result.txt is not in the data folder"
grep -q "^HDDアクセス性能 *:[0-9]" "$root/out.txt" || fail "no disk score printed"
grep -v '^zelka: ' "$root/err.txt" && fail "standard error has lines not the program's own"

iconv -f CP932 -t UTF-8 "$data/zelka/result.txt" | sed 's/^\(総合評価 *:\).*/\1111/' |
  iconv -f UTF-8 -t CP932 >"$data/zelka/Report/first.txt"
iconv -f CP932 -t UTF-8 "$data/zelka/result.txt" | sed 's/^\(総合評価 *:\).*/\1222/' |
  iconv -f UTF-8 -t CP932 >"$data/zelka/Report/second.txt"
report=$(run --report) || fail "the report failed"
echo "$report"
header=$(sed -n 1p <<<"$report")
[[ $header == *現在の値*first.txt*second.txt* || $header == *現在の値*second.txt*first.txt* ]] ||
  fail "the report's heading does not name both files: $header"
grep -Eq '^総合評価 +0 +(111 +222|222 +111)$' <<<"$report" || fail "the overall row is not side by side"
echo "install check passed"
