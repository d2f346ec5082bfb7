#!/bin/bash
# The stub (the updater without a package) is what every download costs on
# top of its package. One std::string or std::vector function in an object
# the updater links brings in the C++ library's exception support and
# demangler: about 250 KB more, unnoticed by every other test. This test
# fails then, and on any growth past the limit below (about 1.4 times
# today's stub, to leave room for features).
# Usage: updater_size_test.sh UPDATER_EXE
set -u
exe=$1
limit=98304
failed=0
size=$(stat -c %s "$exe") || exit 1
if [ "$size" -gt "$limit" ]; then
  echo "FAIL: $exe is $size bytes, more than $limit"
  failed=1
fi
# The verbose terminate handler comes with the exception support.
if grep -q "terminate called after throwing" "$exe"; then
  echo "FAIL: $exe carries the C++ library's exception support (find what pulls it in with -Wl,-Map)"
  failed=1
fi
[ $failed -eq 0 ] && echo "$exe: $size bytes"
exit $failed
