# Shared by the scripts: the Wine prefix of the build and an X display.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Creates the prefix once. A prefix made before wine32 was installed cannot
# run 32-bit programs, so one without a syswow64 folder is made again.
ensure_wine_prefix() {
  if [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    echo "creating Wine prefix $WINEPREFIX"
    LANG=ja_JP.UTF-8 wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] || { echo "Wine prefix creation failed" >&2; return 1; }
    # Windows open inside one virtual desktop: without a window manager, a
    # top-level X window waits about two seconds for activation, which would
    # make every message box of the tests that slow. The desktop also draws
    # title bars for screenshots.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w
  fi
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

stop_wine() {
  wineserver -k 2>/dev/null || true
}
