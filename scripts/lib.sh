# Shared by the scripts: the Windows targets, their build folders, Wine
# loaders and prefixes, an X display, package installation and the texts'
# conversion to code page 932.
#
# Two prefixes live in the build folder: build/wineprefix, a WoW64 prefix for
# 32-bit programs (made with the 32-bit loader, so it runs 64-bit ones too),
# and build/wineprefix64, made by the 64-bit loader for 64-bit programs, which
# also works on hosts that cannot execute 32-bit code at all.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

windows_targets_all="i686 x86_64"

# True when this host executes 32-bit x86 code. Some kernels have the IA-32
# emulation switched off: every i386 program, the 32-bit Wine loader
# included, then fails with "Exec format error". A 93-byte i386 program that
# only exits 0 tells.
host_runs_i386() {
  local probe status
  probe=$(mktemp)
  printf "$(sed 's/../\\x&/g' <<<"$i386_probe")" >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  return $status
}
i386_probe=7f454c46010101000000000000000000020003000100000054800408340000000000000000000000340020000100000000000000010000000000000000800408008004085d0000005d0000000500000000100000b80100000031dbcd80

prefix_for() {
  case "$1" in
    i686) echo "$root/build/wineprefix" ;;
    x86_64) echo "$root/build/wineprefix64" ;;
    *) echo "unknown Windows target '$1'" >&2; return 1 ;;
  esac
}

loader_for() {
  case "$1" in
    i686) echo /usr/lib/wine/wine ;;
    x86_64) echo /usr/lib/wine/wine64 ;;
    *) echo "unknown Windows target '$1'" >&2; return 1 ;;
  esac
}

# The Windows build folder of a target, as the CMake presets name it.
build_dir_for() {
  case "$1" in
    i686) echo "$root/build/windows" ;;
    x86_64) echo "$root/build/windows-x86_64" ;;
    *) echo "unknown Windows target '$1'" >&2; return 1 ;;
  esac
}

# The target of a Windows program from its PE header (the machine field
# behind the "PE\0\0" signature): i686, x86_64, or nothing for other files.
pe_target() {
  local file=$1 offset machine
  [ -f "$file" ] || return 0
  offset=$(od -An -tu4 -j60 -N4 "$file" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 0
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$file" 2>/dev/null | tr -d ' ')
  case "$machine" in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
  esac
}

# The target that scripts run when they are not told: i686 (the shipped
# updater) where the host executes 32-bit code, x86_64 elsewhere.
default_target() {
  if host_runs_i386; then echo i686; else echo x86_64; fi
}

# ensure_wine_prefix [TARGET [PREFIX]]: creates the prefix of TARGET once, at
# PREFIX or TARGET's own place. Without arguments it takes the default target
# and the caller's WINEPREFIX (or that target's prefix), and exports
# WINEPREFIX for the commands that follow. A WoW64 prefix made before wine32
# was installed cannot run 32-bit programs, so an i686 prefix without a
# syswow64 folder is made again. The x86_64 prefix is made by the 64-bit
# loader with WINEARCH=win64; where wine32 is installed Wine still gives it a
# syswow64 folder, which does no harm.
ensure_wine_prefix() {
  local target=${1:-} prefix=${2:-} marker
  if [ -z "$target" ]; then
    target=$(default_target)
    export WINEPREFIX=${WINEPREFIX:-$(prefix_for "$target")}
    prefix=$WINEPREFIX
  elif [ -z "$prefix" ]; then
    prefix=$(prefix_for "$target")
  fi
  case "$target" in
    i686) marker="$prefix/drive_c/windows/syswow64" ;;
    x86_64) marker="$prefix/drive_c/windows/system32/kernel32.dll" ;;
  esac
  [ -e "$marker" ] && return 0
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  echo "creating the $target Wine prefix $prefix"
  local loader
  loader=$(loader_for "$target")
  if [ "$target" = x86_64 ]; then
    WINEPREFIX=$prefix WINEARCH=win64 LANG=ja_JP.UTF-8 "$loader" wineboot -i >/dev/null 2>&1 || true
  else
    WINEPREFIX=$prefix LANG=ja_JP.UTF-8 "$loader" wineboot -i >/dev/null 2>&1 || true
  fi
  WINEPREFIX=$prefix wineserver -w
  [ -e "$marker" ] || { echo "Wine prefix creation failed ($prefix)" >&2; return 1; }
  # Windows open inside one virtual desktop: without a window manager, a
  # top-level X window waits about two seconds for activation, which would
  # make every message box of the tests that slow. The desktop also draws
  # title bars for screenshots.
  WINEPREFIX=$prefix "$loader" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
  WINEPREFIX=$prefix "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w
}

# Starts Xvfb on a free display when there is no DISPLAY, and stops exactly
# that server when the script exits.
xvfb_pid=""
ensure_display() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local file
  file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$file" ] && break
    sleep 0.1
  done
  [ -s "$file" ] || { echo "Xvfb did not start" >&2; rm -f "$file"; return 1; }
  export DISPLAY=":$(head -n1 "$file")"
  rm -f "$file"
}

stop_display() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}

# stop_wine [TARGET]: stops the Wine server of TARGET's prefix, or without a
# TARGET of the caller's WINEPREFIX; never another prefix's.
stop_wine() {
  local prefix=${WINEPREFIX:-}
  [ -n "${1:-}" ] && prefix=$(prefix_for "$1")
  [ -n "$prefix" ] || return 0
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
}

# to_cp932: UTF-8 text on standard input to code page 932 with CRLF line ends
# on standard output, the form in which the updater reads its texts on a
# Japanese Windows. Fails on a character that code page 932 lacks.
to_cp932() {
  iconv -f UTF-8 -t CP932 | sed 's/\r*$/\r/'
}

# missing_packages PACKAGE...: prints those of the Debian packages that are
# not installed, one a line. Asks dpkg, never the PATH: a program of the
# expected name may belong to another package.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# install_packages PACKAGE...: installs those of the packages that are
# missing (adding the i386 architecture first when one of them is :i386).
# A package mirror caught in the middle of a sync fails one index now and
# then: the index update is retried, and what it still cannot fetch is left
# to the install to judge. An install that cannot be resolved because the
# two architectures' indexes disagree ("held broken packages") is retried
# preferring the release's own versions. apt's output goes to a temporary
# file of this call, removed on success and named on failure.
install_packages() {
  local missing=() sudo="" attempt log who=${0##*/}
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "$who: installing ${missing[*]}"
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  for attempt in 1 2 3; do
    if $sudo apt-get update -qq; then break; fi
    echo "$who: apt-get update failed (attempt $attempt of 3)"
    if [ "$attempt" -lt 3 ]; then sleep $((attempt * 5)); fi
  done
  log=$(mktemp "${TMPDIR:-/tmp}/fa2-apt.XXXXXX")
  if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
         "${missing[@]}" >"$log" 2>&1; then
    echo "$who: the install could not be resolved; retrying with the release's own versions (-t bookworm)"
    if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
           -t bookworm "${missing[@]}" >>"$log" 2>&1; then
      tail -n 20 "$log" >&2
      echo "$who: installing ${missing[*]} failed (apt's output: $log)" >&2
      return 1
    fi
  fi
  rm -f "$log"
}
