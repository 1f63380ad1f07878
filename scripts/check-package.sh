#!/usr/bin/env bash
# Checks the Debian package without installing it: builds it (scripts/package.sh), unpacks it
# into a temporary folder, runs the unpacked programs' --version and --help (no display is
# needed), checks that the sweep tool links no Qt GUI library and sweeps the simulated
# analyser with no display, validates the desktop entry and the AppStream metainfo, and runs
# lintian, which must report no error. Exits non-zero at the first failed check.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/install-deps.sh" test

deb="$("$here/scripts/package.sh")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
version="$(dpkg-deb -f "$deb" Version)"
id="$(basename "$tmp"/usr/share/applications/*.desktop .desktop)"

fail() { echo "check-package.sh: $*" >&2; exit 1; }
step() { echo "== $*"; }

step "$(basename "$deb"): contents"
for f in usr/bin/kestrin-vna usr/bin/kestrin-vna-sim usr/bin/kestrin-vna-sweep \
         usr/share/man/man1/kestrin-vna.1.gz usr/share/man/man1/kestrin-vna-sim.1.gz \
         usr/share/man/man1/kestrin-vna-sweep.1.gz \
         "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml" \
         "usr/share/icons/hicolor/scalable/apps/$id.svg" \
         "usr/share/icons/hicolor/48x48/apps/$id.png" "usr/share/icons/hicolor/128x128/apps/$id.png" \
         "usr/share/icons/hicolor/256x256/apps/$id.png" \
         usr/share/doc/kestrin-vna/copyright usr/share/doc/kestrin-vna/changelog.gz \
         "usr/share/mime/packages/$id.xml" usr/lib/udev/rules.d/70-kestrin-vna.rules; do
  [ -f "$tmp/$f" ] || fail "the package lacks /$f"
done
echo "ok"

# Without any display: a program that tried to open its window would fail here.
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb)
for program in kestrin-vna kestrin-vna-sim kestrin-vna-sweep; do
  step "$program --version"
  out="$("${nodisplay[@]}" "$tmp/usr/bin/$program" --version)"
  echo "$out"
  [ "$out" = "$program $version" ] || fail "$program --version printed '$out', not '$program $version'"
  step "$program --help"
  out="$("${nodisplay[@]}" "$tmp/usr/bin/$program" --help)"
  echo "$out"
  grep -q '^Usage: ' <<<"$out" || fail "$program --help printed no usage"
done

# The sweep tool is for headless machines: it must not pull in the display stack, and it
# sweeps with no display and no Qt platform at all.
step "kestrin-vna-sweep links no Qt GUI library"
gui="$(ldd "$tmp/usr/bin/kestrin-vna-sweep" | grep -E 'libQt6(Gui|Widgets)' || true)"
[ -z "$gui" ] || fail "kestrin-vna-sweep links $gui"
echo "ok"
step "kestrin-vna-sweep --port simulator --steps 10 --format summary (no display)"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  "$tmp/usr/bin/kestrin-vna-sweep" --port simulator --steps 10 --format summary >"$tmp/summary.tsv" ||
  fail "kestrin-vna-sweep failed without a display"
cat "$tmp/summary.tsv"
[ "$(wc -l <"$tmp/summary.tsv")" -eq 1 ] || fail "kestrin-vna-sweep wrote no summary line"

step "desktop-file-validate $id.desktop"
desktop-file-validate "$tmp/usr/share/applications/$id.desktop"
echo "ok"
grep -q '^Exec=kestrin-vna %f$' "$tmp/usr/share/applications/$id.desktop" ||
  fail "the desktop entry does not hand a file to the program"
step "the MIME type of setups"
xmllint --noout "$tmp/usr/share/mime/packages/$id.xml"
grep -q 'MimeType=application/x-kestrin-vna-setup;' "$tmp/usr/share/applications/$id.desktop" ||
  fail "the desktop entry does not open setups"
mime="$(mktemp -d)"
cp -r "$tmp/usr/share/mime" "$mime/"
update-mime-database "$mime/mime" >/dev/null 2>&1 || fail "update-mime-database refused the MIME type"
printf 'Kestrin VNA setup 1\nsteps = 100\n' >"$tmp/40m.kvsetup"
XDG_DATA_DIRS="$mime" XDG_DATA_HOME="$mime/none" gio info -a standard::content-type "$tmp/40m.kvsetup" |
  grep -q 'application/x-kestrin-vna-setup' || fail "a .kvsetup file is not recognised as a setup"
rm -rf "$mime"
echo "ok"
step "appstreamcli validate --no-net $id.metainfo.xml"
appstreamcli validate --no-net "$tmp/usr/share/metainfo/$id.metainfo.xml"
step "appstreamcli validate-tree --no-net (metainfo, desktop entry and icons together)"
appstreamcli validate-tree --no-net "$tmp"

step "lintian $(basename "$deb")"
# lintian exits non-zero on an error; its remark about running as root goes.
lintian --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2)
echo "ok: no errors"
