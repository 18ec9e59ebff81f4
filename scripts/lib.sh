# Shared by scripts/test and scripts/demo: install what is missing.
# shellcheck shell=bash

varnis_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

# The Debian packages the build, the tests and the demo need. The offscreen
# platform plugin the Qt tests use (and the xcb one) is in libqt6gui6, which
# qt6-base-dev brings; help2man makes the manual pages, man-db checks them;
# ps (procps) shows the command-line tests what another user sees.
VARNIS_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev
  fonts-noto-cjk help2man man-db procps
)
VARNIS_SANITIZE_PACKAGES=(clang libclang-rt-14-dev)
VARNIS_DEMO_PACKAGES=(xvfb xauth x11-utils imagemagick)
# scripts/check-format and scripts/check-sizes (run by scripts/test), and
# scripts/render-architecture (the picture in docs/architecture.md).
VARNIS_CHECK_PACKAGES=(clang-format pmccabe)
VARNIS_DOCS_PACKAGES=(graphviz)
# scripts/package-check: the .deb (cpack with dpkg-shlibdeps, which needs
# file), lintian, hardening-check (devscripts) and the clean root.
VARNIS_PACKAGE_PACKAGES=(dpkg-dev file lintian devscripts debootstrap)
# scripts/test-windows and scripts/package-windows: the MinGW-w64 cross
# compiler (with its POSIX thread model), GoogleTest's sources to build for
# Windows, Wine to run the programs (with the fonts Wine draws its own frames
# in, and an X server for the window), zip for the zip, ImageMagick for the
# programs' icon and the window's screenshot, wixl for the MSI package
# (python3 makes its product code), msitools to read it back, and locales:
# Wine runs a test in the Chinese locale (code page 936), and the command
# line is tried under code pages 437 and 936.
VARNIS_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix googletest wine wine64 fonts-wine xvfb zip
  imagemagick wixl msitools python3 locales)
# scripts/test-real-drivers: the emulator, the guest's shell and its
# initramfs, and the host's side of the tier.
VARNIS_REALDRIVERS_PACKAGES=(qemu-system-x86 busybox-static cpio python3)

# install_missing PKG...: apt-get update then install only what is not there.
# One line a step on the screen; apt's and dpkg's own detail goes to a log
# under /tmp, whose path is printed when a step fails (the last lines too).
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo="" log
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  log=$(mktemp "${TMPDIR:-/tmp}/varnis-install.XXXXXX.log")
  echo "installing: ${missing[*]}"
  echo "  apt-get update (log: $log)"
  if ! $sudo apt-get update -q >>"$log" 2>&1; then
    install_failed "$log" "apt-get update"
    return 1
  fi
  echo "  apt-get install (a few minutes for Qt, MinGW-w64 or Wine)"
  if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" \
    >>"$log" 2>&1 </dev/null; then
    install_failed "$log" "apt-get install"
    return 1
  fi
  echo "  installed; the detail is in $log"
}
install_failed() {
  echo "install_missing: $2 failed; its output is in $1, which ends:" >&2
  tail -n 5 "$1" | sed 's/^/    /' >&2
}

# skip_reasons DIR: after a ctest run in DIR, one line for each test program
# that could not run (its own line "skipped: ...") and each GoogleTest case
# that skipped itself, with the reason, read from CTest's log of the run.
skip_reasons() {
  local log="$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  awk '
    /^[0-9]+\/[0-9]+ Test: / { test = $3 }
    /^skipped: / { print "skipped: " test ": " substr($0, 10) }
    /: Skipped$/ { getline reason }
    /^\[  SKIPPED \] [^ ]+ \(/ { print "skipped: " test ": " $4 ": " reason; reason = "" }
  ' "$log"
}

# configure_and_build DIR [cmake args...]
configure_and_build() {
  local dir=$1; shift
  cmake -S "$VARNIS_ROOT" -B "$VARNIS_ROOT/$dir" -G Ninja "$@"
  cmake --build "$VARNIS_ROOT/$dir" -j "$(nproc)"
}
