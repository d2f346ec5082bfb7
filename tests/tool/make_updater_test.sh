#!/bin/bash
# Tests of scripts/make-updater as a program: an updater made from a good
# package carries it whole; bad input gets one error line, exit code 1 and
# no output file (an existing one is left as it was).
# Usage: make_updater_test.sh WINDOWS_BUILD_FOLDER FA2_TOOL
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
FA2_TOOL=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
export FA2_TOOL
make_updater=$root/scripts/make-updater
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failed=0
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }

mkdir in
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GAME\r\nGameDir=Game\r\n' >in/UPDATE.INI
printf '[UPDATE]\r\nRequiredDiskSpace=20000\r\nUpdateFile00=DATA.BIN\r\n' >>in/UPDATE.INI
printf 'payload %.0s' $(seq 1 2000) >in/DATA.BIN
"$FA2_TOOL" create good.fa2 in/UPDATE.INI in/DATA.BIN >/dev/null || bad "fa2 create good.fa2"
"$FA2_TOOL" create noini.fa2 in/DATA.BIN >/dev/null || bad "fa2 create noini.fa2"
mkdir wrong && sed 's/DATA.BIN/LOST.BIN/' in/UPDATE.INI >wrong/UPDATE.INI
"$FA2_TOOL" create wrong.fa2 wrong/UPDATE.INI in/DATA.BIN 2>/dev/null || bad "fa2 create wrong.fa2"
head -c 100 good.fa2 >short.fa2
cp in/UPDATE.INI notfa2.fa2

# A good package: the updater is the stub plus the package, found whole in it.
"$make_updater" --build "$build" good.fa2 UPDATE.EXE || bad "good package: exit $?"
stub_size=$(stat -c %s "$build/updater.exe")
package_size=$(stat -c %s good.fa2)
if [ ! -f UPDATE.EXE ]; then
  bad "good package: no UPDATE.EXE"
else
  size=$(stat -c %s UPDATE.EXE)
  [ "$size" -ge $((stub_size + package_size)) ] || bad "UPDATE.EXE ($size) smaller than stub + package"
  header=$(head -c 16 good.fa2 | od -An -v -tx1 | tr -d ' \n' | sed 's/../\\x&/g')
  offset=$(LC_ALL=C grep -obUaP "$header" UPDATE.EXE | head -n1 | cut -d: -f1)
  if [ -z "$offset" ] || ! cmp -s <(tail -c +$((offset + 1)) UPDATE.EXE | head -c "$package_size") good.fa2; then
    bad "the package is not in UPDATE.EXE byte for byte"
  fi
fi
ls -a | grep -q '^\.make-updater' && bad "good package: left a temporary"

# expect_failure DESCRIPTION EXPECTED_EXIT -- ARGS...: OUT.EXE must keep "old".
expect_failure() {
  local what=$1 code=$2
  shift 3
  printf 'old' >OUT.EXE
  "$make_updater" --build "$build" "$@" >out.txt 2>err.txt
  local rc=$?
  [ "$rc" -eq "$code" ] || { bad "$what: exit $rc, wanted $code"; return; }
  if [ "$code" -eq 1 ]; then
    [ "$(wc -l <err.txt)" -eq 1 ] && grep -q '^make-updater: ' err.txt ||
      bad "$what: not one 'make-updater: ...' line: $(cat err.txt)"
  fi
  [ "$(cat OUT.EXE)" = old ] || bad "$what: OUT.EXE was changed"
  ls -a | grep -q '^\.make-updater' && bad "$what: left a temporary"
}

expect_failure "missing package" 1 -- missing.fa2 OUT.EXE
expect_failure "not an FA2 package" 1 -- notfa2.fa2 OUT.EXE
expect_failure "package cut short" 1 -- short.fa2 OUT.EXE
expect_failure "package without UPDATE.INI" 1 -- noini.fa2 OUT.EXE
expect_failure "a folder as package" 1 -- in OUT.EXE
expect_failure "no such output folder" 1 -- good.fa2 nowhere/OUT.EXE
expect_failure "unknown architecture" 2 -- --arch arm good.fa2 OUT.EXE
expect_failure "one argument" 2 -- good.fa2

# A script with an error: its findings, then the one refusal line; nothing written.
printf 'old' >OUT.EXE
"$make_updater" --build "$build" wrong.fa2 OUT.EXE >out.txt 2>err.txt
rc=$?
[ "$rc" -eq 1 ] || bad "script with an error: exit $rc, wanted 1"
grep -q "^UPDATE.INI:8: error: UpdateFile00: names the entry 'LOST.BIN'" err.txt ||
  bad "script with an error: finding not shown: $(cat err.txt)"
[ "$(tail -n1 err.txt | grep -c '^make-updater: .*update script has errors')" -eq 1 ] ||
  bad "script with an error: no refusal line: $(cat err.txt)"
[ "$(cat OUT.EXE)" = old ] || bad "script with an error: OUT.EXE was changed"
"$make_updater" --build "$build" --no-check wrong.fa2 OUT.EXE || bad "--no-check: exit $?"

if [ "$failed" -ne 0 ]; then echo "$failed failed"; exit 1; fi
echo "make-updater: all cases passed"
