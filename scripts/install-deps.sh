#!/usr/bin/env bash
# Installs what Kestrin VNA needs on Debian 12, for one role:
#   build  compiler, CMake, Qt development files and the window's fonts: enough to build,
#          run and package the program (scripts/run.sh, scripts/package.sh)
#   test   build, plus what the tests and the package check need (scripts/test.sh)
#   windows  build, plus the cross-compiler, Wine, NSIS and what the Windows scripts use
#          to build, test, package and try the Windows program (scripts/*-windows.sh)
# Usage: install-deps.sh [--dry-run] [build|test|windows]   (no role: test)
#   --dry-run  print the packages the role misses on this machine and install nothing
# Does nothing (and needs no network) when everything is already there.
set -euo pipefail

build_packages=(
  build-essential cmake file  # file: CPack's library dependency scan
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation fonts-wine fontconfig
)
# One line per purpose; add packages where they belong.
test_packages=(
  pkg-config libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth imagemagick x11-utils procps
  locales
  python3                               # scripts/check-deps.py
  python3-scikit-rf                     # reads the Touchstone files back in the tests
  lintian desktop-file-utils appstream  # scripts/check-package.sh
  shared-mime-info libglib2.0-bin libxml2-utils  # check-package.sh: the setups' MIME type
  clang-14 libclang-rt-14-dev           # scripts/fuzz.sh
)
windows_packages=(
  g++-mingw-w64-x86-64-posix ninja-build xz-utils  # Qt and the program for Windows
  googletest                                       # GoogleTest built for mingw-w64
  wine64 nsis unzip                                # the tests under Wine, the installer, the zip
  xvfb xauth xdotool imagemagick x11-utils         # the installed program tried on a display
)

usage() { echo "Usage: $0 [--dry-run] [build|test|windows]" >&2; exit 2; }
dry_run=0
role=""
for arg in "$@"; do
  case "$arg" in
    --dry-run) dry_run=1 ;;
    build|test|windows) [ -z "$role" ] || usage; role="$arg" ;;
    *) usage ;;
  esac
done
role="${role:-test}"

packages=("${build_packages[@]}")
[ "$role" = test ] && packages+=("${test_packages[@]}")
[ "$role" = windows ] && packages+=("${windows_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The read-out tests run once under a locale with ',' as the decimal separator.
need_locale=0
if [ "$role" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  need_locale=1
fi

if [ "$dry_run" -eq 1 ]; then
  echo "Missing for $role: ${missing[*]:-nothing}"
  [ "$need_locale" -eq 0 ] || echo "Locale to generate: de_DE.UTF-8"
  exit 0
fi

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$need_locale" -eq 1 ]; then
  $sudo_cmd sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  $sudo_cmd locale-gen >/dev/null
fi
