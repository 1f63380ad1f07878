#!/usr/bin/env bash
# Builds the Qt that Kestrin VNA needs for 64-bit Windows from Debian's own source package of
# Qt (qt6-base, the version of the Qt installed here, whose moc, rcc and uic serve as host
# tools), with Debian's mingw-w64 (POSIX threads), and installs it into a prefix outside the
# checkout:
#   KESTRIN_QT_WINDOWS_PREFIX  where it goes (default /opt/kestrin-qt6-mingw64)
#   KESTRIN_QT_WINDOWS_WORK    where the source is unpacked and built, removed afterwards
#                              unless KESTRIN_QT_WINDOWS_KEEP_WORK=1
#                              (default /var/tmp/kestrin-qt6-mingw64-build)
# Static libraries: the program is GPL-3.0-or-later and Qt's GPL terms let it link Qt in,
# so kestrin-vna.exe runs alone, with no Qt DLLs or plugin folders beside it to go missing.
# Only what the program and its tests use is built: Core, Gui, Widgets, Test, the Windows
# platform and styles, the offscreen platform; the third-party libraries are Qt's bundled
# ones, so nothing else is needed for Windows.
#
# What it changes on the machine: the packages of install-deps.sh's windows role (apt-get),
# and the prefix. The source comes through apt with a deb-src list of its own kept in the
# work folder (the release, its updates and its security updates, where the installed Qt may
# come from), so the machine's apt sources stay as they are. Does nothing when the prefix already holds a
# complete build of the same version and options (its stamp file).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${KESTRIN_QT_WINDOWS_PREFIX:-/opt/kestrin-qt6-mingw64}"
work="${KESTRIN_QT_WINDOWS_WORK:-/var/tmp/kestrin-qt6-mingw64-build}"
jobs="${KESTRIN_JOBS:-2}"

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# The cross-compiler, ninja, and Qt's host tools (moc, rcc, uic) with its CMake files for
# the host: the Linux Qt.
"$here/scripts/install-deps.sh" windows

# The source must be the host Qt's version: its moc writes code for that version's headers.
host_version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"  # e.g. 6.4.2+dfsg-10
upstream="${host_version%%+*}"
upstream="${upstream#*:}"

features=(
  # The modules and platform pieces the program does not use.
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_sessionmanager=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
  # Parts of Gui and Widgets the window never shows, left out to shorten the build.
  -DFEATURE_graphicsview=OFF -DFEATURE_pdf=OFF -DFEATURE_textodfwriter=OFF -DFEATURE_movie=OFF
  -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF -DFEATURE_mdiarea=OFF
  -DFEATURE_wizard=OFF -DFEATURE_fontdialog=OFF -DFEATURE_colordialog=OFF -DFEATURE_calendarwidget=OFF
  # Debian's repacked source has no src/3rdparty/wintab, which tablet events need; with
  # OpenGL off, dynamic GL must go too, or the Windows platform does not compile.
  -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF
  # Qt's own copies of the third-party libraries; freetype for the offscreen platform.
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_freetype=ON
  -DFEATURE_system_doubleconversion=OFF
)
options="qt6-base $host_version static mingw-w64-posix Release ${features[*]}"
stamp="$prefix/kestrin-build.stamp"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$options" ]; then
  echo "Qt $upstream for Windows is already built in $prefix"
  exit 0
fi

started=$(date +%s)
$sudo_cmd rm -rf "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"

# Debian's source package through apt, with the machine's own keyring and mirror but a
# source list, package lists and cache of its own.
sources="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null || true)"
uri_of() { awk '/^URIs:/ {for (i = 2; i <= NF; i++) print $i} /^deb / {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; break}}' <<<"$sources" |
  if [ "$1" = security ]; then grep -m1 security; else grep -v -m1 security; fi || true; }
mirror="$(uri_of main)"
mirror="${mirror:-http://deb.debian.org/debian}"
security="$(uri_of security)"
security="${security:-http://security.debian.org/debian-security}"
suite="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
{
  echo "deb-src [signed-by=$keyring] $mirror $suite main"
  echo "deb-src [signed-by=$keyring] $mirror $suite-updates main"
  echo "deb-src [signed-by=$keyring] $security $suite-security main"
} >"$work/apt/sources.list"
apt_opts=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache" -o Debug::NoLocking=1
  -o APT::Sandbox::User=root)
apt-get "${apt_opts[@]}" -qq update
if ! (cd "$work/src" && apt-get "${apt_opts[@]}" -qq source --download-only "qt6-base=$host_version" \
      >"$work/source.log" 2>&1); then
  cat "$work/source.log" >&2
  echo "build-qt-windows.sh: Debian no longer offers the source of qt6-base $host_version, the Qt" \
    "installed here, in $suite, $suite-updates or $suite-security. Qt for Windows must be that" \
    "version; bring the installed Qt up to date (apt-get update && apt-get install --only-upgrade" \
    "qt6-base-dev) and run this again." >&2
  exit 1
fi
tarball="$(ls "$work"/src/qt6-base_*.orig.tar.xz)"
echo "Unpacking $(basename "$tarball")"
tar -C "$work/src" -xf "$tarball"
source_dir="$(ls -d "$work"/src/qtbase-everywhere-src-*)"
[ "$(basename "$source_dir")" = "qtbase-everywhere-src-$upstream" ] || {
  echo "The source is $(basename "$source_dir"), not Qt $upstream" >&2; exit 1; }

echo "Configuring Qt $upstream for Windows into $prefix"
cmake -S "$source_dir" -B "$work/build" -G Ninja \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
  -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
  -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres \
  -DCMAKE_FIND_ROOT_PATH=/usr/x86_64-w64-mingw32 -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
  -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  "${features[@]}" >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log"; exit 1; }
configured=$(date +%s)

echo "Building (about 45 minutes on two cores; the log is $work/build.log)"
cmake --build "$work/build" -j"$jobs" >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; exit 1; }
$sudo_cmd rm -rf "$prefix"
$sudo_cmd cmake --install "$work/build" >"$work/install.log" 2>&1 || { tail -n 20 "$work/install.log"; exit 1; }
echo "$options" | $sudo_cmd tee "$stamp" >/dev/null
[ "${KESTRIN_QT_WINDOWS_KEEP_WORK:-0}" = 1 ] || $sudo_cmd rm -rf "$work"
echo "Qt $upstream for Windows built in $(($(date +%s) - started)) s (configured in $((configured - started)) s):" \
  "$prefix, $(du -sh "$prefix" | cut -f1)"
