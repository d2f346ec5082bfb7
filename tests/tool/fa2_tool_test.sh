#!/bin/bash
# Tests of the fa2 tool as a program: round trips on real files and every
# kind of bad input. Usage: fa2_tool_test.sh PATH_TO_fa2 [PATH_TO_fa2_ELSEWHERE]
# The second program, when given, is the same tool on a system with another
# code page (fa2.exe on a western Windows); the double-byte names go through
# it as well.
set -u
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
fa2=$(absolute "$1")
fa2_elsewhere=""
if [ $# -ge 2 ]; then fa2_elsewhere=$(absolute "$2"); fi
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
for command in create list extract test check make-updater; do
  check "help lists $command" grep -q "^  $command " help.txt
  check "help of $command" "$fa2" help $command >command.txt
  check "help of $command is its usage" grep -q "^usage: fa2 $command " command.txt
done
check "--version" test "$("$fa2" --version | tr -d '\r')" = "fa2 $(sed -n 's/^project(fa2updater VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")"

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

# ---- double-byte names: code page 932 in the package, the host's text outside ----
# The second byte of ソ (83 5C), 表 (95 5C) and 能 (94 5C) is a backslash.
# テストテスト.T is 14 bytes in code page 932 and 20 in UTF-8.
jp_names=(テスト.TXT ソ.DAT 表.DAT 能.DAT テストテスト.T)
double_byte_round_trip() {  # double_byte_round_trip FA2 TAG
  local tool=$1 tag=$2 n
  local d="jp_$tag"
  mkdir -p "$d/in" "$d/out" "$d/one"
  for n in "${jp_names[@]}"; do printf '%s: contents' "$n" >"$d/in/$n"; done
  touch -d '2003-04-05 06:07:08 UTC' "$d/in/表.DAT"
  check "$tag: create with double-byte names" "$tool" create "$d/J.FA2" "${jp_names[@]/#/$d/in/}"
  check "$tag: test" "$tool" test "$d/J.FA2" >/dev/null
  "$tool" list "$d/J.FA2" | tr -d '\r' >"$d/list.txt"
  for n in "${jp_names[@]}"; do
    check "$tag: list shows $n" grep -q "^$n " "$d/list.txt"
  done
  check "$tag: list time of 表.DAT" grep -q '^表.DAT .*2003-04-05T06:07:08Z' "$d/list.txt"
  check "$tag: extract all" "$tool" extract "$d/J.FA2" -C "$d/out"
  for n in "${jp_names[@]}"; do
    check "$tag: extracted $n equal" cmp -s "$d/in/$n" "$d/out/$n"
  done
  check "$tag: only the entries' files" test "$(ls "$d/out" | wc -l)" -eq "${#jp_names[@]}"
  check "$tag: time kept (表.DAT)" test "$(stat -c %Y "$d/out/表.DAT")" -eq "$(stat -c %Y "$d/in/表.DAT")"
  check "$tag: extract by double-byte name" "$tool" extract "$d/J.FA2" -C "$d/one" 表.DAT ソ.DAT
  check "$tag: only the named entries" test "$(ls "$d/one" | sort | tr '\n' ' ')" = "ソ.DAT 表.DAT "
  check "$tag: the named entry's contents" cmp -s "$d/in/ソ.DAT" "$d/one/ソ.DAT"
  printf x >"$d/in/テストテストテ.T"
  expect_error "$tag: 16 bytes in code page 932 refused" 1 "$d/X.FA2" -- create "$d/X.FA2" "$d/in/テストテストテ.T"
  printf x >"$d/in/é.TXT"
  expect_error "$tag: name without a code page 932 form refused" 1 "$d/X.FA2" -- create "$d/X.FA2" "$d/in/é.TXT"
}
double_byte_round_trip "$fa2" here
if [ -n "$fa2_elsewhere" ]; then double_byte_round_trip "$fa2_elsewhere" elsewhere; fi

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
# An entry is (name, flags, original size, stored size[, FILETIME]); a name
# given as text is ASCII, one given as bytes is taken as it is.
Y2000 = (946684800 + 11644473600) * 10**7
def package(entries, datas):
    out = bytearray(16)
    for d in datas:
        out += d
        out += bytes((-len(d)) % 16)
    diroff = len(out)
    for name, fl, orig, stored, *time in entries:
        raw = name if isinstance(name, bytes) else name.encode()
        out += raw.ljust(15, b'\0') + bytes([fl]) + struct.pack('<QII', time[0] if time else Y2000, orig, stored)
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
# A good entry before a corrupt one: nothing may be written.
open('goodbad.FA2', 'wb').write(package([('GOOD.TXT', 0, len(data), len(data)), ('A.TXT', 2, 100, 8)],
                                        [data, b'\x00' * 8]))
# Names as a package from elsewhere holds them: code page 932 bytes.
open('cp932.FA2', 'wb').write(package([('表.DAT'.encode('cp932'), 0, 3, 3),
                                       ('ソフト.TXT'.encode('cp932'), 0, 4, 4)], [b'hyo', b'soft']))
# A double-byte code that code page 932 leaves unassigned.
open('unassigned.FA2', 'wb').write(package([(b'\x85\x40.DAT', 0, 3, 3)], [b'abc']))
# Times at the ends of what a FILETIME holds, and one past 2262.
open('times.FA2', 'wb').write(package([('FIRST.DAT', 0, 3, 3, 0),
                                       ('LAST.DAT', 0, 3, 3, 2**64 - 1),
                                       ('Y2300.DAT', 0, 3, 3, (10413792000 + 11644473600) * 10**7)],
                                      [b'one', b'two', b'333']))
PY

for pkg in notfa2 short empty cut nodir outside count huge mismatch pastend garbage shortdec longdec goodbad; do
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

mkdir x_goodbad_named
expect_error "extract a good and a corrupt entry by name" 1 "" -- extract goodbad.FA2 -C x_goodbad_named GOOD.TXT A.TXT
check "nothing written for the named entries" test -z "$(ls -A x_goodbad_named)"

mkdir x_cp932
check "extract code page 932 names" "$fa2" extract cp932.FA2 -C x_cp932
check "code page 932 names become the host's" test "$(ls x_cp932 | sort | tr '\n' ' ')" = "ソフト.TXT 表.DAT "
check "contents under a 932 name" test "$(cat x_cp932/表.DAT)" = hyo
check "list shows code page 932 names" grep -q '^表.DAT ' <("$fa2" list cp932.FA2)
mkdir x_unassigned
expect_error "extract an unassigned double-byte name" 1 "" -- extract unassigned.FA2 -C x_unassigned
check "nothing written for the unassigned name" test -z "$(ls -A x_unassigned)"
check "list shows an unassigned name" "$fa2" list unassigned.FA2

# Every time a FILETIME holds is either kept exactly or, where the file
# system cannot hold it, replaced by the nearest it can, with a warning.
mkdir x_times
"$fa2" extract times.FA2 -C x_times >out.txt 2>err.txt
check "extract of extreme times succeeds" test $? -eq 0
check "no temporary after extreme times" test -z "$(ls x_times | grep fa2tmp)"
check "three files of extreme times" test "$(ls x_times | wc -l)" -eq 3
check "year 2300 kept" test "$(stat -c %Y x_times/Y2300.DAT)" -eq 10413792000
kept_or_warned() {  # kept_or_warned FILE SECONDS
  [ "$(stat -c %Y "x_times/$1")" = "$2" ] || grep -q "$1: warning: " err.txt
}
check "1601 kept or warned" kept_or_warned FIRST.DAT -11644473600
check "the last FILETIME kept or warned" kept_or_warned LAST.DAT 1833029933770
check "warnings only for times not kept" test "$(grep -vc ': warning: ' err.txt)" -eq 0

# ---- check: the update script as the updater reads it ----
mkdir chk
sound='[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GAME\r\nGameDir=Game\r\n'
sound+='[UPDATE]\r\nRequiredDiskSpace=100\r\nUpdateFile00=DATA\\A.DAT\r\n'
printf "$sound" >chk/UPDATE.INI
printf 'a' >chk/A.DAT
"$fa2" create chk/ゲーム.FA2 chk/UPDATE.INI chk/A.DAT 2>err.txt
check "create of a sound script" test $? -eq 0 -a ! -s err.txt
"$fa2" check chk/ゲーム.FA2 >out.txt 2>err.txt
check "check of a sound script exits 0" test $? -eq 0
check "sound script: only the summary" test "$(tr -d '\r' <out.txt)" = "UPDATE.INI: 0 errors, 0 warnings"
printf "${sound}UpdateFile02=A.DAT\r\n" >chk/UPDATE.INI
"$fa2" create chk/W.FA2 chk/UPDATE.INI chk/A.DAT 2>/dev/null
"$fa2" check chk/W.FA2 >out.txt 2>&1
check "warnings alone exit 0" test $? -eq 0
check "warning line" grep -q '^UPDATE.INI:9: warning: UpdateFile02: never read' out.txt
"$fa2" check --warnings-as-errors chk/W.FA2 >/dev/null 2>&1
check "--warnings-as-errors exits 1" test $? -eq 1
printf "${sound/A.DAT/B.DAT}" >chk/UPDATE.INI
"$fa2" create chk/E.FA2 chk/UPDATE.INI chk/A.DAT 2>err.txt
check "create writes a package whose script has errors" test $? -eq 0 -a -f chk/E.FA2
check "create prints the findings" grep -q "^UPDATE.INI:8: error: UpdateFile00: names the entry 'B.DAT'" err.txt
"$fa2" check chk/E.FA2 >out.txt 2>&1
check "errors exit 1" test $? -eq 1
check "error summary" grep -q '^UPDATE.INI: 1 error, 1 warning' out.txt
# --setup: the script held against the installation's SETUP.INI. A sound
# pair, then one mistake per row: the file changed, the edit, the finding.
setup_ini='[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameDir=Game\r\nGameExe=GAME.EXE\r\n'
setup_ini+='UninstExe=UNINST.EXE\r\nSetupBmp=S.BMP\r\nInstallSelects=2\r\nInstallTitle0=Small\r\n'
setup_ini+='InstallTitle1=Full\r\nInstallFiles0=GAME.EXE\r\nInstallFiles1=GAME.EXE,1:MOVIE\\OP.MPG\r\n'
setup_ini+='Shortcuts=1\r\nShortcut0=Game,GAME.EXE\r\nDiskCheckFile1=GAME1.CHK\r\n'
pair_script='[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GAME\r\nGameDir=Game\r\n'
pair_script+='[UPDATE]\r\nRequiredDiskSpace=100\r\nUpdateFile00=1,DATA\\A.DAT\r\nCopyFile00=1:MOVIE\r\n'
setup_rows=(
  "sound|setup||"
  "identity in other letter case|setup|s/^CompanyName=Maker/CompanyName=MAKER/|"
  "required key missing|setup|/^GameExe=/d|su/SETUP.INI:1: error: GameExe: missing or empty"
  "selections over the limit|setup|s/^InstallSelects=2/InstallSelects=4/|su/SETUP.INI:8: error: InstallSelects: .*InstallSelect オーバー"
  "shortcuts over the limit|setup|s/^Shortcuts=1/Shortcuts=11/|su/SETUP.INI:13: error: Shortcuts: .*Shortcuts オーバー"
  "a list without items|setup|s/^InstallFiles1=.*/InstallFiles1=,/|su/SETUP.INI:12: error: InstallFiles1: .*SETUP.INI : InstallFiles1 エラー"
  "another company|setup|s/^CompanyName=.*/CompanyName=Other/|su/SETUP.INI:2: error: CompanyName: 'Other' here, 'Maker' in the update script"
  "another game folder|setup|s/^GameDir=.*/GameDir=Other/|su/SETUP.INI:4: error: GameDir: 'Other' here"
  "a mode no selection has|setup|s/^InstallSelects=2/InstallSelects=1/|UPDATE.INI:8: error: UpdateFile00: mode prefix '1': SETUP.INI has 1 install selection"
  "a disc without check file|setup|/^DiskCheckFile1=/d|UPDATE.INI:9: error: CopyFile00: disc 1 has no check file"
  "a copy outside the folder|script|s/^CopyFile00=.*/CopyFile00=1:..\\\\MOVIE/|UPDATE.INI:9: error: CopyFile00: destination '\\.\\..MOVIE' lies outside"
)
mkdir su
printf 'a' >su/A.DAT
for row in "${setup_rows[@]}"; do
  IFS='|' read -r what file edit finding <<<"$row"
  printf "$setup_ini" >su/SETUP.INI
  printf "$pair_script" >su/UPDATE.INI
  target=su/SETUP.INI
  [ "$file" = setup ] || target=su/UPDATE.INI
  [ -z "$edit" ] || sed -i "$edit" "$target"
  "$fa2" create su/P.FA2 su/UPDATE.INI su/A.DAT 2>/dev/null
  "$fa2" check --setup su/SETUP.INI su/P.FA2 >out.txt 2>err.txt
  rc=$?
  tr -d '\r' <out.txt >findings.txt
  if [ -z "$finding" ]; then
    check "--setup, $what: exit 0" test $rc -eq 0
    check "--setup, $what: only the summary" test "$(cat findings.txt)" = "UPDATE.INI and su/SETUP.INI: 0 errors, 0 warnings"
  else
    check "--setup, $what: exit 1" test $rc -eq 1
    check "--setup, $what: the finding" grep -q "^$finding" findings.txt
    check "--setup, $what: one error" grep -q ': 1 error, ' findings.txt
  fi
done
expect_error "check --setup without the file" 2 "" -- check su/P.FA2 --setup
expect_error "check --setup of a missing file" 1 "" -- check --setup su/NOSUCH.INI su/P.FA2
expect_error "check without a package" 2 "" -- check
expect_error "check with an unknown option" 2 "" -- check --strict chk/E.FA2
expect_error "check of a file that is no package" 1 "" -- check chk/A.DAT
expect_error "check of a package without UPDATE.INI" 1 "" -- check S.FA2

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
