#!/bin/bash
# The stub's image as the loader sees it. It must ask for ASLR and DEP
# (and, 64-bit, high-entropy ASLR) whatever the linker's defaults, and it
# may import only DLLs that Windows always loads from its own folder: the
# KnownDLLs of Windows 7 and later, and common controls 6, which the
# manifest binds to the side-by-side store. Any other DLL imported by name
# would first be looked for beside the program, in a Downloads folder,
# before the program could restrict the search.
# Usage: stub_image_test.sh UPDATER_EXE OBJDUMP POINTER_SIZE
set -u
exe=$1 objdump=$2 pointer=$3
known="advapi32 comctl32 comdlg32 gdi32 imagehlp imm32 kernel32 msvcrt normaliz ole32 oleaut32
       psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32"
headers=$("$objdump" -p "$exe") || { echo "FAIL: $objdump cannot read $exe"; exit 1; }
failed=0
flags="DYNAMIC_BASE NX_COMPAT"
[ "$pointer" = 8 ] && flags="$flags HIGH_ENTROPY_VA"
for flag in $flags; do
  grep -qw "$flag" <<<"$headers" || { echo "FAIL: $exe lacks $flag"; failed=1; }
done
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$imports" ] || { echo "FAIL: no import table read from $exe"; failed=1; }
for dll in $imports; do
  grep -qw "$dll" <<<"$known" || { echo "FAIL: $exe imports $dll.dll, which may be loaded from the program's folder"; failed=1; }
done
[ $failed -eq 0 ] && echo "$exe: $flags; imports" $imports
exit $failed
