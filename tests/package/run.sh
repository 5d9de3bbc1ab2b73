#!/bin/sh
# Checks what `cmake --install` and `cpack` make of a build, as a user gets
# it: the install tree (every program, manual page, completion and document,
# and programs that run from there), the manual pages' lint, the Debian
# package's fields and contents, its install and removal, and the Windows zip
# of a mingw build. Also builds the programs alone as the README's command
# does, with CMake's default generator and without GoogleTest.
#
#   tests/package/run.sh <build dir> [<Windows build dir>]
#
# Installing the .deb takes root and a system without qvlink installed;
# otherwise that check, like any whose tool is missing, counts as skipped.
# Ends with "package checks: N passed, 0 failed, K skipped".
set -eu
export LC_ALL=C  # one sort order for the file lists

repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
windows_build=${2:-}
programs="qvrestart qvcopy qvdir qvcomlog qvinstall qvunpack"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
installed_deb=""
# However the checks end, a package they installed goes again.
cleanup() {
  if [ -n "$installed_deb" ]; then dpkg -r qvlink >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

passed=0
skipped=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
skip() { skipped=$((skipped + 1)); echo "skipped: $1"; }
fail() { echo "FAILED: $1" >&2; exit 1; }

# Every file the install tree must hold, relative to the prefix, sorted;
# the manual pages end in <suffix> (".gz" in the Debian package).
expected_tree() {  # expected_tree [<suffix>]
  for program in $programs qvemu; do
    echo "bin/$program"
    echo "share/man/man1/$program.1${1:-}"
    echo "share/bash-completion/completions/$program"
  done
  echo share/doc/qvlink/README.md
  echo share/doc/qvlink/copyright
  (cd "$repo" && find docs samples -type f | sed 's|^|share/doc/qvlink/|')
}

# Fails unless <file> holds exactly the sorted lines of <expected>.
same_list() {  # same_list <what> <expected file> <actual file>
  if ! diff -u "$2" "$3" >"$work/diff"; then
    cat "$work/diff" >&2
    fail "$1"
  fi
}

# The license as Debian keeps it: the machine-readable format's header, one
# stanza for every file with LICENSE's holder, and under "License: Expat" the
# text of LICENSE, one space in front of each line and "." for an empty one.
check_copyright() {  # check_copyright <copyright file> <what>
  [ "$(head -n 1 "$1")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "$2: the first line is not the machine-readable format's"
  holder=$(sed -n 's/^Copyright (c) //p' "$repo/LICENSE")
  grep -q -x -F "Upstream-Name: qvlink" "$1" || fail "$2 does not name qvlink"
  grep -q -x -F "Copyright: $holder" "$1" || fail "$2 does not name the holder \"$holder\""
  sed -n '/^Files: \*$/,$p' "$1" | grep -q -x -F "License: Expat" || fail "$2: no stanza of every file under the Expat (MIT) license"
  sed '1,/^License: Expat$/d' "$1" | sed -e 's/^ //' -e 's/^\.$//' >"$work/license-text"
  sed '1,/^Copyright (c) /d' "$repo/LICENSE" | sed '1{/^$/d;}' >"$work/license-expected"
  cmp -s "$work/license-expected" "$work/license-text" ||
    { diff -u "$work/license-expected" "$work/license-text" >&2; fail "$2 does not carry the text of LICENSE"; }
}

check_install_tree() {
  tree=$work/tree
  cmake --install "$build" --prefix "$tree" >/dev/null
  expected_tree | sort >"$work/expected"
  (cd "$tree" && find . -type f | sed 's|^\./||' | sort) >"$work/actual"
  same_list "install tree" "$work/expected" "$work/actual"
  pass "cmake --install gives the programs, pages, completions and documents"
  check_copyright "$tree/share/doc/qvlink/copyright" "the installed copyright"
  pass "the installed copyright is LICENSE in Debian's machine-readable format"
  for program in $programs qvemu; do
    answer=$("$tree/bin/$program" --version) || fail "$program --version exits $?"
    [ "$answer" = "$program $version" ] || fail "$program --version printed '$answer'"
  done
  "$tree/bin/qvemu" --help >/dev/null || fail "qvemu --help exits $?"
  names=$("$tree/bin/qvunpack" -t "$tree/share/doc/qvlink/samples/backup/backup.bak" | tr -d '\r' | sort | tr '\n' ' ')
  [ -n "$names" ] || fail "the installed qvunpack lists nothing of the installed sample archive"
  pass "the installed programs run: --version says $version, the sample archive lists ($names)"
}

# The options of <program> that its completion offers (or with "--help",
# that its help lists), one check for -c0 ... -c8 and one for -s0 ... -s2.
options_of() {  # options_of <program> [--help]
  if [ "${2:-}" = --help ]; then
    "$work/tree/bin/$1" --help | sed -n 's/^  \(-[-a-zA-Z0-9]*\).*/\1/p'
  else
    completions "$1" -
  fi | sed 's/^\(-[a-z]\)[0-9]$/\1/' | sort -u
}

# Lint with groff in the C locale and with mandoc: the pages write the
# programs' Japanese messages as groff escapes, so that they read alike in any
# locale, and man renders them back to the characters. The completion offers
# every option the help lists, and the rendered page explains every one the
# completion offers.
check_man_pages() {
  for program in $programs; do
    options_of "$program" --help >"$work/help-options"
    options_of "$program" >"$work/completed-options"
    [ -s "$work/help-options" ] || fail "$program --help lists no option"
    missing=$(comm -23 "$work/help-options" "$work/completed-options" | tr '\n' ' ')
    [ -z "$missing" ] || fail "the completion of $program does not offer $missing"
  done
  for program in $programs qvemu; do
    page=$work/tree/share/man/man1/$program.1
    groff -ww -Tutf8 -man -z "$page" 2>"$work/lint" && [ ! -s "$work/lint" ] ||
      { cat "$work/lint" >&2; fail "groff -ww finds faults in $program.1"; }
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>"$work/lint" >"$work/page.txt"
    [ ! -s "$work/lint" ] || { cat "$work/lint" >&2; fail "man -l warns on $program.1"; }
    options=$(options_of "$program")
    [ -n "$options" ] || fail "the completion offers no option of $program"
    # Each option heads an entry of OPTIONS (alone or in a list: "-h, --help").
    sed -n '/^OPTIONS/,/^[A-Z]/p' "$work/page.txt" >"$work/options.txt"
    for option in $options; do
      grep -q -E -e "^ +([^ ]+, )*$option" "$work/options.txt" || fail "$program.1 does not explain $option"
    done
  done
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$work/tree/share/man/man1/qvinstall.1" 2>/dev/null |
    grep -q 'リセットに失敗しました' || fail "man -l does not render qvinstall.1's Japanese messages"
  pass "manual pages are groff -ww clean and explain every option; the completion offers them all"
  if ! command -v mandoc >/dev/null 2>&1; then skip "no mandoc: mandoc -Tlint"; return; fi
  mandoc -Tlint -W warning "$work"/tree/share/man/man1/*.1 >"$work/lint" 2>&1 && [ ! -s "$work/lint" ] ||
    { cat "$work/lint" >&2; fail "mandoc -Tlint -W warning finds faults in the manual pages"; }
  pass "manual pages are mandoc -Tlint clean"
}

# What the installed completion offers for: <program> <words...>, in a shell
# with failglob set. The shipped port patterns are moved from /dev to a
# folder of stand-in ports, which are plugged in after the file was loaded.
# Anything the shell says on standard error fails the check.
completions() {
  PATH="$work/tree/bin:$PATH" bash -c '
    shopt -s failglob
    rm -rf "$2"
    . "$1/share/bash-completion/completions/$3"
    _qvlink_port_patterns=("${_qvlink_port_patterns[@]/#\/dev\//$2/}")
    mkdir -p "$2/serial/by-id"
    touch "$2/ttyUSB0" "$2/ttyACM1" "$2/serial/by-id/usb-adapter-port0"
    shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _qvlink "$1"
    printf "%s\n" "${COMPREPLY[@]}"' completion "$work/tree" "$work/ports" "$@" 2>"$work/completion.err"
  [ ! -s "$work/completion.err" ] || { cat "$work/completion.err" >&2; fail "completing $*: the shell complains"; }
}

check_completion() {
  [ "$(completions qvcopy -d "" | tr '\n' ' ')" = \
    "$work/ports/ttyUSB0 $work/ports/ttyACM1 $work/ports/serial/by-id/usb-adapter-port0 " ] ||
    fail "qvcopy -d does not offer the ports plugged in after the completion was loaded"
  [ "$(completions qvcopy -d "$work/ports/ttyA")" = "$work/ports/ttyACM1" ] || fail "qvcopy -d does not complete a port's start"
  [ "$(completions qvcomlog -c | wc -l)" -eq 9 ] || fail "qvcomlog -c does not offer the nine slots"
  completions qvemu --rel | grep -q -x -e --relay-lose-ack || fail "qvemu's options are not offered"
  [ "$(completions qvemu -h)" = -h ] || fail "qvemu's -h is not offered"
  registered=$(bash -c '. "$1"; complete -p qvcopy' completion "$work/tree/share/bash-completion/completions/qvcopy")
  case $registered in
    *"-o filenames"*) ;;
    *) fail "the completion is registered without -o filenames (names with spaces unquoted): $registered" ;;
  esac
  pass "bash completion under failglob offers options, log slots and ports plugged in later"
}

check_deb() {
  if ! command -v dpkg-deb >/dev/null 2>&1; then skip "no dpkg-deb: Debian package"; return; fi
  (cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
  deb=$(ls "$work"/deb/*.deb)
  [ "$(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')" = \
    "Package: qvlink Version: $version Architecture: $(dpkg --print-architecture) " ] ||
    fail "the package's name, version or architecture: $(dpkg-deb -f "$deb" Package Version Architecture)"
  dpkg-deb -f "$deb" Depends | grep -q 'libstdc++6' || fail "the package does not depend on the C++ runtime"
  dpkg-deb -f "$deb" Description | grep -q . || fail "the package has no description"
  # Whom to write to: a name and an address, as Debian's Maintainer field asks.
  maintainer=$(dpkg-deb -f "$deb" Maintainer)
  printf '%s\n' "$maintainer" | grep -q -x -E '[^<>]*[^<> ] <[^<>@ ]+@[^<>@ ]+\.[^<>@ ]+>' ||
    fail "the package's maintainer has no address: '$maintainer'"
  expected_tree .gz | sed 's|^|usr/|' | sort >"$work/expected"
  dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort >"$work/actual"
  same_list "dpkg -c of $deb" "$work/expected" "$work/actual"
  # gzip -9n: the header holds no name and no time stamp, and says "best compression".
  dpkg-deb -x "$deb" "$work/unpacked"
  for page in "$work"/unpacked/usr/share/man/man1/*.gz; do
    [ "$(od -A n -t x1 -N 9 "$page" | tr -d ' \n')" = 1f8b08000000000002 ] ||
      fail "$(basename "$page") is not compressed as gzip -9n does"
    gzip -dc "$page" | cmp -s - "$work/tree/share/man/man1/$(basename "$page" .gz)" ||
      fail "$(basename "$page") is not the installed page"
  done
  check_copyright "$work/unpacked/usr/share/doc/qvlink/copyright" "the package's copyright"
  pass "$(basename "$deb"): fields and contents, maintainer '$maintainer', copyright, manual pages compressed by gzip -9n"
  if [ "$(id -u)" -ne 0 ]; then skip "not root: dpkg -i"; return; fi
  if dpkg -s qvlink >/dev/null 2>&1; then skip "qvlink is installed here: dpkg -i"; return; fi
  installed_deb=$deb
  dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
  answer=$(/usr/bin/qvcopy --version) || fail "installed qvcopy --version"
  dpkg -r qvlink >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r"; }
  installed_deb=""
  [ "$answer" = "qvcopy $version" ] || fail "installed qvcopy --version printed '$answer'"
  [ ! -e /usr/bin/qvcopy ] && [ ! -e /usr/share/doc/qvlink ] || fail "dpkg -r left files behind"
  pass "dpkg -i, qvcopy --version, dpkg -r"
}

# The zip holds the README with its pages, the license and the programs,
# each linked statically: it imports no DLL of the compiler's runtime.
check_windows_zip() {
  if [ -z "$windows_build" ] || [ ! -f "$windows_build/CPackConfig.cmake" ]; then
    skip "no Windows build: zip"
    return
  fi
  (cd "$windows_build" && cpack -G ZIP -B "$work/zip" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G ZIP"; }
  zip=$(ls "$work"/zip/*.zip)
  top=$(basename "$zip" .zip)
  {
    for program in $programs; do echo "$top/$program.exe"; done
    echo "$top/README.md"
    echo "$top/LICENSE"
    (cd "$repo" && find docs -type f | sed "s|^|$top/|")
  } | sort >"$work/expected"
  (cd "$work/zip" && cmake -E tar xf "$zip" && find "$top" -type f | sort) >"$work/actual"
  same_list "contents of $zip" "$work/expected" "$work/actual"
  objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump)
  for program in $programs; do
    "$objdump" -p "$work/zip/$top/$program.exe" | sed -n 's/^\tDLL Name: //p' >"$work/dlls"
    ! grep -i -E 'libstdc|libgcc|winpthread' "$work/dlls" || fail "$program.exe needs a runtime DLL"
  done
  pass "$(basename "$zip"): the README, its pages, the license and the statically linked programs"
}

# The README's build of the programs alone, on a machine without GoogleTest:
# CMake's default generator, no build type given (Release is chosen), and
# configure's one line that the tests are off.
check_programs_only_build() {
  if ! command -v make >/dev/null 2>&1; then skip "no make: the programs alone with CMake's default generator"; return; fi
  dir=$work/programs
  env -u CMAKE_GENERATOR cmake -S "$repo" -B "$dir" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; fail "configure without GoogleTest"; }
  [ "$(grep -c -i 'tests are off' "$work/configure.log")" -eq 1 ] ||
    { cat "$work/configure.log" >&2; fail "configure without GoogleTest does not say once that the tests are off"; }
  grep -q -x 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles' "$dir/CMakeCache.txt" || fail "the default generator is not Unix Makefiles"
  grep -q -x 'CMAKE_BUILD_TYPE:STRING=Release' "$dir/CMakeCache.txt" || fail "a tree configured without a build type is not Release"
  # shellcheck disable=SC2086
  cmake --build "$dir" -j 2 --target $programs >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; fail "building the programs alone"; }
  ! grep -i 'warning:' "$work/build.log" >&2 || fail "the Release build of the programs warns"
  for program in $programs; do
    [ -x "$dir/bin/$program" ] || fail "the programs-only build has no bin/$program"
  done
  pass "the programs alone: Unix Makefiles, Release, tests off in one line, bin/ holds all six, no warning"
}

check_install_tree
check_programs_only_build
check_man_pages
check_completion
check_deb
check_windows_zip
echo "package checks: $passed passed, 0 failed, $skipped skipped"
