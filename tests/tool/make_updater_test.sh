#!/bin/bash
# Tests of scripts/make-updater as a program: an updater made from a good
# package carries it whole, runs no compiler or linker, takes an icon and
# signs so that osslsigncode verifies it, checks against a SETUP.INI; bad
# input (a sanitizer build of the tool included) gets one error line, exit
# code 1 and no output file (an existing one is left as it was).
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

# With the stub built, nothing is compiled, assembled, linked or
# resource-compiled (Wine's own programs are fine).
if ! command -v strace >/dev/null || ! strace -f -qq -o /dev/null true 2>/dev/null; then
  echo "note: strace cannot trace here; the run is not traced"
else
  ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=execve -o trace.txt \
    "$make_updater" --build "$build" good.fa2 TRACED.EXE || bad "traced run: exit $?"
  ran=$(grep -o 'execve("[^"]*"' trace.txt | sed 's/.*\///; s/"$//' | sort -u)
  tools=$(printf '%s\n' "$ran" | grep -E '^(.*-)?(gcc|g\+\+|c\+\+|cc|cc1|cc1plus|as|ld|ld\.bfd|collect2|windres|cmake|ninja)$')
  [ -z "$tools" ] || bad "making an updater ran: $tools"
  grep -q '"make-updater", "--stub"' trace.txt || bad "the trace does not show the fa2 tool at work"
fi

# An icon file with one 1x1 32-bit image.
{ printf '\0\0\1\0\1\0\1\1\0\0\1\0\40\0\60\0\0\0\26\0\0\0'
  printf '\50\0\0\0\1\0\0\0\2\0\0\0\1\0\40\0'; head -c 32 /dev/zero; } >game.ico
"$make_updater" --build "$build" --icon game.ico good.fa2 ICON.EXE || bad "icon: exit $?"

# Signed with a certificate made here, as PEM files and as PKCS#12 with its
# password in the environment; the signature verifies against it.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Test publisher" -days 2 \
  -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -in cert.pem -inkey key.pem -out cert.p12 -passout pass:secret
"$make_updater" --build "$build" --sign cert.pem key.pem good.fa2 SIGNED.EXE || bad "sign: exit $?"
FA2_SIGN_PASSWORD=secret "$make_updater" --build "$build" --sign-pkcs12 cert.p12 good.fa2 P12.EXE ||
  bad "sign with PKCS#12: exit $?"
for exe in SIGNED.EXE P12.EXE; do
  osslsigncode verify -CAfile cert.pem -in "$exe" 2>&1 | grep -q 'Signature verification: ok' ||
    bad "$exe: the signature does not verify"
done

# fa2 verify: every updater made here is whole (the signed ones too) and
# prints its SHA-256 as sha256sum does; a copy with one byte of its package
# flipped (the last entry's, then the script's), the bare stub and a file
# that is no program are refused with exit 1 and one line.
for exe in UPDATE.EXE ICON.EXE SIGNED.EXE P12.EXE; do
  "$FA2_TOOL" verify "$exe" >out.txt 2>err.txt || bad "verify $exe: exit $?: $(cat err.txt)"
  tr -d '\r' <out.txt | grep -qx "$(sha256sum "$exe" | cut -d' ' -f1)  $exe" || bad "verify $exe: no SHA-256 line: $(cat out.txt)"
done
if [ -n "${offset:-}" ]; then
  for at in $((package_size - 40)) 20; do
    cp UPDATE.EXE DAMAGED.EXE
    printf '\x5a' | dd of=DAMAGED.EXE bs=1 seek=$((offset + at)) conv=notrunc status=none
    cmp -s UPDATE.EXE DAMAGED.EXE && printf '\x5b' | dd of=DAMAGED.EXE bs=1 seek=$((offset + at)) conv=notrunc status=none
    "$FA2_TOOL" verify DAMAGED.EXE >out.txt 2>err.txt
    rc=$?
    [ "$rc" -eq 1 ] && [ "$(wc -l <err.txt)" -eq 1 ] && grep -q 'damaged' err.txt ||
      bad "verify of a byte flipped at package offset $at: exit $rc: $(cat err.txt)"
  done
fi
for exe in "$build/updater.exe" in/UPDATE.INI; do
  "$FA2_TOOL" verify "$exe" >out.txt 2>err.txt
  rc=$?
  [ "$rc" -eq 1 ] && [ "$(wc -l <err.txt)" -eq 1 ] || bad "verify $exe: exit $rc, wanted 1 and one line: $(cat err.txt)"
done

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

mkdir signed && cp SIGNED.EXE signed/updater.exe
expect_failure "missing package" 1 -- missing.fa2 OUT.EXE
expect_failure "not an FA2 package" 1 -- notfa2.fa2 OUT.EXE
expect_failure "package cut short" 1 -- short.fa2 OUT.EXE
expect_failure "package without UPDATE.INI" 1 -- noini.fa2 OUT.EXE
expect_failure "a folder as package" 1 -- in OUT.EXE
expect_failure "no such output folder" 1 -- good.fa2 nowhere/OUT.EXE
expect_failure "not an icon" 1 -- --icon in/UPDATE.INI good.fa2 OUT.EXE
FA2_SIGN_PASSWORD=wrong expect_failure "wrong PKCS#12 password" 1 -- --sign-pkcs12 cert.p12 good.fa2 OUT.EXE
expect_failure "a signed stub" 1 -- --build "$work/signed" good.fa2 OUT.EXE
expect_failure "unknown architecture" 2 -- --arch arm good.fa2 OUT.EXE
expect_failure "one argument" 2 -- good.fa2
# A tool that fails with no "fa2: " line of its own (a lost Wine client).
printf '#!/bin/sh\necho "wine went away" >&2\nexit 3\n' >mute-fa2 && chmod +x mute-fa2
FA2_TOOL=$work/mute-fa2 expect_failure "a tool failing without its reason" 1 -- good.fa2 OUT.EXE

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

# --setup holds the script against the installation: a SETUP.INI of another
# company refuses the package with its finding; the right one passes.
setup='[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameDir=Game\r\nGameExe=GAME.EXE\r\n'
setup+='UninstExe=U.EXE\r\nSetupBmp=S.BMP\r\nInstallSelects=1\r\nInstallTitle0=All\r\n'
setup+='InstallFiles0=GAME.EXE\r\nShortcuts=0\r\n'
printf "$setup" >SETUP.INI
"$make_updater" --build "$build" --setup SETUP.INI good.fa2 SETUP.EXE || bad "--setup: exit $?"
printf "${setup/Maker/Other}" >OTHER.INI
printf 'old' >OUT.EXE
"$make_updater" --build "$build" --setup OTHER.INI good.fa2 OUT.EXE >out.txt 2>err.txt
rc=$?
[ "$rc" -eq 1 ] || bad "--setup of another company: exit $rc, wanted 1"
grep -q "^OTHER.INI:2: error: CompanyName: 'Other' here" err.txt ||
  bad "--setup of another company: finding not shown: $(cat err.txt)"
[ "$(cat OUT.EXE)" = old ] || bad "--setup of another company: OUT.EXE was changed"

# The tool is never a sanitizer build, even when named.
printf '#!/bin/sh\n# __asan_init\nexit 0\n' >asan-fa2 && chmod +x asan-fa2
FA2_TOOL=$work/asan-fa2 expect_failure "a sanitizer build of fa2" 1 -- good.fa2 OUT.EXE

if [ "$failed" -ne 0 ]; then echo "$failed failed"; exit 1; fi
echo "make-updater: all cases passed"
