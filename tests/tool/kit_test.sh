#!/bin/bash
# The publisher's kit as a publisher gets it: scripts/release makes it, each
# archive is unpacked into an empty folder, and with nothing but the kit
# (the Linux fa2, and fa2.exe under Wine) updaters are made from a package
# the kit's tool packed: the same bytes from both tools for both stubs, and
# one made by fa2.exe runs a whole update (the basic-update scenario). The
# players' troubleshooting text is in both, in code page 932.
# Usage: kit_test.sh WINDOWS_BUILD_FOLDER i686|x86_64
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
arch=$2
source "$root/scripts/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }

"$root/scripts/release" --out "$work/dist" >/dev/null || { echo "FAIL: scripts/release"; exit 1; }
mkdir "$work/linux" "$work/windows"
tar -C "$work/linux" -xzf "$work/dist/fa2-kit-linux.tar.gz" || bad "unpacking the tarball"
(cd "$work/windows" && unzip -q "$work/dist/fa2-kit-windows.zip") || bad "unpacking the zip"
linux=$work/linux/fa2-kit win=$work/windows/fa2-kit
# The players' text, as a Japanese Windows reads it, in both kits.
for kit in "$linux" "$win"; do
  iconv -f CP932 -t UTF-8 "$kit/TROUBLESHOOTING-JA.TXT" | tr -d '\r' |
    cmp -s - "$root/resources/kit/TROUBLESHOOTING-JA.TXT.utf8" ||
    bad "$kit: TROUBLESHOOTING-JA.TXT is not the kit's text in code page 932"
done
# fa2.exe is a 32-bit program: it runs where the host executes 32-bit code.
with_wine=yes
host_runs_i386 || { with_wine=no; echo "note: no 32-bit Wine here, fa2.exe not run"; }

cd "$work"
mkdir in
printf '[SETUP]\r\nCompanyName=Maker\r\nGameTitle=Game\r\nGameClass=GAME\r\nGameDir=Game\r\n[UPDATE]\r\nRequiredDiskSpace=400000\r\nUpdateFile00=DATA.BIN\r\n' >in/UPDATE.INI
head -c 300000 /dev/urandom >in/DATA.BIN
"$linux/fa2" create pkg.fa2 in/UPDATE.INI in/DATA.BIN >/dev/null || bad "kit fa2 create"
cp pkg.fa2 "$win/UPDATE.FA2"
for stub in i686 x86_64; do
  "$linux/fa2" make-updater --stub "$linux/updater-$stub.exe" pkg.fa2 "linux-$stub.exe" ||
    bad "kit fa2 make-updater ($stub)"
  "$linux/fa2" verify "linux-$stub.exe" >/dev/null || bad "kit fa2 verify of its own updater ($stub)"
  [ "$with_wine" = yes ] || continue
  (cd "$win" && "$root/scripts/wine-run" fa2.exe make-updater --stub "updater-$stub.exe" \
     UPDATE.FA2 "win-$stub.exe" </dev/null) || bad "kit fa2.exe make-updater ($stub)"
  cmp -s "linux-$stub.exe" "$win/win-$stub.exe" || bad "fa2 and fa2.exe made different updaters ($stub)"
done

# The scenario's package becomes an updater through the kit alone.
cat >make.sh <<SCRIPT
#!/bin/bash
set -e
cp "\$1" "$win/SCENARIO.FA2"
if [ "$with_wine" = yes ]; then
  cd "$win" && "$root/scripts/wine-run" fa2.exe make-updater --stub updater-$arch.exe SCENARIO.FA2 SCENARIO.EXE </dev/null
else
  cd "$linux" && ./fa2 make-updater --stub updater-$arch.exe "$win/SCENARIO.FA2" "$win/SCENARIO.EXE"
fi
mv "$win/SCENARIO.EXE" "\$2"
SCRIPT
chmod +x make.sh
E2E_MAKE_UPDATER=$work/make.sh "$root/tests/e2e/run-scenario" --build "$build" --arch "$arch" \
  "$root/tests/e2e/scenarios/basic-update" >scenario.log 2>&1 || { cat scenario.log; bad "the kit's updater failed the basic update"; }
grep -q "^== scenario basic-update" scenario.log || bad "the scenario did not run"

if [ "$failed" -ne 0 ]; then echo "$failed failed"; exit 1; fi
echo "kit: all cases passed"
