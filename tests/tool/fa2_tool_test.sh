#!/bin/bash
# Tests of the fa2 tool as a program: round trips on real files and every
# kind of bad input. Usage: fa2_tool_test.sh PATH_TO_fa2
set -u
fa2=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok; else bad "$what"; fi
}

# expect_error DESCRIPTION EXPECTED_EXIT OUTPUT_THAT_MUST_NOT_EXIST -- fa2 ARGS...
expect_error() {
  local what=$1 code=$2 output=$3; shift 4
  "$fa2" "$@" >out.txt 2>err.txt
  local rc=$?
  local lines
  lines=$(wc -l <err.txt)
  if [ "$rc" -ne "$code" ]; then bad "$what: exit $rc, wanted $code"; return; fi
  if [ "$code" -eq 1 ]; then
    if [ "$lines" -ne 1 ] || ! grep -q '^fa2: .*: ' err.txt; then
      bad "$what: message not one 'fa2: X: problem' line: $(cat err.txt)"; return
    fi
  fi
  if [ -n "$output" ] && [ -e "$output" ]; then bad "$what: left $output behind"; return; fi
  if ls | grep -q 'fa2tmp'; then bad "$what: left a temporary"; return; fi
  ok
}

# ---- inputs ----
mkdir in
printf '[SETUP]\r\nCompanyName=Maker\r\nGameFolder=Game\r\n' >in/UPDATE.INI
wad=/usr/share/games/doom/freedoom2.wad
if [ -r "$wad" ]; then head -c 3000000 "$wad" >in/GAME.WAD; else seq 1 400000 >in/GAME.WAD; fi
head -c 50000 /dev/urandom >in/NOISE.BIN
: >in/EMPTY.DAT
printf 'fourteen bytes' >in/ABCDEFGHIJ.TXT   # a 14-byte name
printf 'x' >in/ABCDEFGHIJK.TXT              # a 15-byte name
touch -d '2001-02-03 04:05:06 UTC' in/UPDATE.INI
touch -d '1999-12-31 23:59:58 UTC' in/GAME.WAD
mkdir in/other && printf 'second copy' >in/other/update.ini

# ---- create, list, test, extract ----
check "help" "$fa2" --help >help.txt
check "help mentions every command" grep -q 'extract PKG' help.txt
check "help command" "$fa2" help >/dev/null

check "create" "$fa2" create P.FA2 in/UPDATE.INI in/GAME.WAD in/NOISE.BIN in/EMPTY.DAT in/ABCDEFGHIJ.TXT in/other/update.ini
check "test" "$fa2" test P.FA2 >test.txt
"$fa2" list P.FA2 | tr -d '\r' >list.txt   # the Windows build writes CRLF
check "list shows six rows" test "$(grep -c '^[A-Za-z]' list.txt)" -eq 7
check "list keeps command-line order" test "$(sed -n 2p list.txt | awk '{print $1}')" = UPDATE.INI
check "list time in UTC" grep -q 'UPDATE.INI .*2001-02-03T04:05:06Z' list.txt
check "list compressed flag" grep -qE '^GAME.WAD +02 ' list.txt
check "list first offset 16" test "$(sed -n 2p list.txt | awk '{print $6}')" = 16
check "list sizes of GAME.WAD" test "$(grep '^GAME.WAD' list.txt | awk '{print $4}')" = "$(stat -c %s in/GAME.WAD)"

mkdir out
check "extract all" "$fa2" extract P.FA2 -C out
for f in GAME.WAD NOISE.BIN EMPTY.DAT ABCDEFGHIJ.TXT; do
  check "extracted $f equal" cmp -s "in/$f" "out/$f"
done
check "first of two same names wins" cmp -s in/UPDATE.INI out/UPDATE.INI
check "a later entry of the same name is not written" test "$(ls out | grep -ci '^update.ini$')" -eq 1
check "time kept (UPDATE.INI)" test "$(stat -c %Y out/UPDATE.INI)" -eq "$(stat -c %Y in/UPDATE.INI)"
check "time kept (GAME.WAD)" test "$(stat -c %Y out/GAME.WAD)" -eq "$(stat -c %Y in/GAME.WAD)"
check "empty file extracted" test -f out/EMPTY.DAT -a ! -s out/EMPTY.DAT

mkdir one
check "extract by name, any case" "$fa2" extract P.FA2 -C one update.ini game.wad
check "case-insensitive match is the first entry" cmp -s in/UPDATE.INI one/UPDATE.INI
check "only the named entries" test "$(ls one | wc -l)" -eq 2

for level in 1 2 9; do
  check "create --level $level" "$fa2" create --level $level L$level.FA2 in/GAME.WAD in/UPDATE.INI
  check "test level $level" "$fa2" test L$level.FA2 >/dev/null
done
check "create --store" "$fa2" create --store S.FA2 in/GAME.WAD in/EMPTY.DAT
check "stored entries" test "$("$fa2" list S.FA2 | awk '$1=="GAME.WAD"{print $2, ($4==$5)}')" = "00 1"
mkdir st && "$fa2" extract S.FA2 -C st GAME.WAD && check "stored round trip" cmp -s in/GAME.WAD st/GAME.WAD
check "create replaces an existing package" "$fa2" create P.FA2 in/UPDATE.INI
check "replaced package has one entry" test "$("$fa2" list P.FA2 | wc -l)" -eq 2
"$fa2" create P.FA2 in/UPDATE.INI in/GAME.WAD in/EMPTY.DAT

# ---- usage errors: exit 2 ----
expect_error "no command" 2 "" --
expect_error "unknown command" 2 "" frobnicate
expect_error "create without files" 2 X.FA2 -- create X.FA2
expect_error "bad level" 2 X.FA2 -- create --level 0 X.FA2 in/UPDATE.INI
expect_error "bad level 10" 2 X.FA2 -- create --level 10 X.FA2 in/UPDATE.INI
expect_error "unknown option" 2 X.FA2 -- create --fast X.FA2 in/UPDATE.INI
expect_error "list without package" 2 "" -- list
expect_error "extract -C without folder" 2 "" -- extract P.FA2 -C

# ---- bad input: exit 1, one line, no output ----
expect_error "15-byte name refused" 1 X.FA2 -- create X.FA2 in/UPDATE.INI in/ABCDEFGHIJK.TXT
expect_error "missing input file" 1 X.FA2 -- create X.FA2 in/UPDATE.INI in/NOSUCH.DAT
expect_error "folder as input" 1 X.FA2 -- create X.FA2 in/other
expect_error "output folder missing" 1 nodir/X.FA2 -- create nodir/X.FA2 in/UPDATE.INI
cp P.FA2 KEEP.FA2
expect_error "failed create keeps the old package" 1 "" -- create KEEP.FA2 in/NOSUCH.DAT
check "old package unchanged" cmp -s P.FA2 KEEP.FA2

size=$(stat -c %s P.FA2)
dir_offset=$(od -An -tu4 -j8 -N4 P.FA2 | tr -d ' ')
put32() {  # put32 FILE OFFSET VALUE
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
make_bad() { cp P.FA2 "$1"; }

printf 'PK\003\004 not a package at all' >notfa2.FA2
head -c 10 P.FA2 >short.FA2
: >empty.FA2
head -c $((size - 1)) P.FA2 >cut.FA2
head -c $((dir_offset + 0)) P.FA2 >nodir.FA2
make_bad outside.FA2; put32 outside.FA2 8 $((size + 100))
make_bad count.FA2; put32 count.FA2 12 5
make_bad huge.FA2; put32 huge.FA2 12 4294967295
# Entries that disagree with their data: sizes that differ, data past the
# end, streams that are garbage or decode to the wrong size, a name with a
# folder in it.
python3 - <<'PY'
import struct
# Hand-made packages with a plain directory.
def package(entries, datas):
    out = bytearray(16)
    for d in datas:
        out += d
        out += bytes((-len(d)) % 16)
    diroff = len(out)
    for name, fl, orig, stored in entries:
        out += name.encode().ljust(15, b'\0') + bytes([fl]) + struct.pack('<QII', 0, orig, stored)
    struct.pack_into('<4I', out, 0, 0x00324146, 0, diroff, len(entries))
    return out
data = b'hello, world\n' * 10
open('mismatch.FA2', 'wb').write(package([('A.TXT', 0, len(data) + 1, len(data))], [data]))
open('pastend.FA2', 'wb').write(package([('A.TXT', 0, 5000, 5000)], [data]))
# A compressed entry whose stream is garbage, and one that decodes to fewer
# bytes than recorded (the end code alone).
open('garbage.FA2', 'wb').write(package([('A.TXT', 2, 100, 8)], [b'\x00\x00\x00\x00\x00\x00\x00\x00']))
open('shortdec.FA2', 'wb').write(package([('A.TXT', 2, 100, 5)], [b'\x00\x00\x00\x7c\xff']))
open('longdec.FA2', 'wb').write(package([('A.TXT', 2, 5, 7)], [bytes([0x00, 0x80, 0xEF, 0x90, 0x78, 0x00, 0xFF])]))
open('badname.FA2', 'wb').write(package([('../ESCAPE', 0, 3, 3)], [b'abc']))
PY

for pkg in notfa2 short empty cut nodir outside count huge mismatch pastend garbage shortdec longdec; do
  expect_error "test $pkg" 1 "" -- test $pkg.FA2
  mkdir -p "x_$pkg"
  expect_error "extract $pkg" 1 "" -- extract $pkg.FA2 -C "x_$pkg"
  check "extract $pkg wrote nothing" test -z "$(ls -A "x_$pkg")"
done
for pkg in notfa2 short empty cut nodir outside count huge; do
  expect_error "list $pkg" 1 "" -- list $pkg.FA2
done
expect_error "missing package" 1 "" -- test NOSUCH.FA2
expect_error "list missing package" 1 "" -- list NOSUCH.FA2
expect_error "extract unknown name" 1 "" -- extract P.FA2 -C one NOSUCH.TXT
mkdir x_badname
expect_error "entry name with a folder" 1 "" -- extract badname.FA2 -C x_badname
check "no file escaped the folder" test ! -e ESCAPE

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
