#!/usr/bin/env bash
# A 32-bit Windows tree's tests with TOLVARO_WIN32=off, as on a machine that cannot run 32-bit
# programs: every test but the file checks is reported skipped by ctest (not passed, not
# failed) and its output says why; the file checks (*_dll_file) run and pass; nothing fails.
# Also: the runner refuses a TOLVARO_WIN32 it does not know, and TOLVARO_WIN32=vm where the
# emulated machine cannot take over (failures, not skips).
#   wine32-switch-test.sh TREE SELF   (SELF: this test's name, left out of the inner run)
set -u
tree=$1 self=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# An inner ctest of its own folder, so that its Testing/ leaves the tree's alone.
printf 'subdirs("%s")\n' "$tree" >"$work/CTestTestfile.cmake"
(cd "$work" && TOLVARO_WIN32=off ctest -E "^$self\$" --timeout 120) >"$work/out" 2>&1
rc=$?
cp "$work/Testing/Temporary/LastTest.log" "$work/log"  # before ctest -N below writes anew
sed 's/^/  | /' "$work/out"
[ $rc -eq 0 ] || fail "the inner ctest exited $rc"
grep -q '^100% tests passed, 0 tests failed out of' "$work/out" || fail "the inner run's summary is not all passed"

all=$(cd "$work" && ctest -N -E "^$self\$" | sed -n 's/^ *Test *#[0-9]*: //p' | sort)
skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$work/out" | sort)
passed=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) \.*  *Passed.*/\1/p' "$work/out" | sort)
files=$(printf '%s\n' "$all" | grep '_dll_file$')
[ -n "$files" ] || fail "the tree has no file checks"
[ "$passed" = "$files" ] || fail "passed: $(echo $passed); expected the file checks only: $(echo $files)"
expected_skipped=$(printf '%s\n' "$all" | grep -v '_dll_file$')
[ "$skipped" = "$expected_skipped" ] || fail "skipped: $(echo $skipped); expected: $(echo $expected_skipped)"
printf '%s\n' "$skipped" | grep -qx wine_prefix_boot || fail "the prefix's boot is not among the skipped"

# Each skipped test's output gives the reason (ctest keeps it in its log).
reasons=$(grep -c 'SKIPPED: 32-bit Windows programs do not run here: TOLVARO_WIN32=off' "$work/log")
[ "$reasons" -eq "$(printf '%s\n' "$expected_skipped" | wc -l)" ] ||
  fail "$reasons skip reasons in the log for $(printf '%s\n' "$expected_skipped" | wc -l) skipped tests"

out=$(TOLVARO_WIN32=maybe "$tree/wine-run.sh" cmd /c exit 0 2>&1)
rc=$?
[ $rc -eq 1 ] || fail "TOLVARO_WIN32=maybe: the runner exited $rc, expected 1 (an error, not a skip)"
printf '%s' "$out" | grep -q "expected auto, on, off or vm" || fail "TOLVARO_WIN32=maybe: no word of the allowed values: $out"
# The emulated machine asked for where it cannot take over: a failure with the reason, not a skip.
out=$(TOLVARO_WIN32=vm TOLVARO_VM_CACHE="$work/no-images" "$tree/wine-run.sh" cmd /c exit 0 2>&1)
rc=$?
[ $rc -eq 1 ] || fail "TOLVARO_WIN32=vm without a machine: the runner exited $rc, expected 1"
printf '%s' "$out" | grep -q "^TOLVARO_WIN32=vm, but the emulated machine cannot take over" ||
  fail "TOLVARO_WIN32=vm without a machine: no reason given: $out"
out=$(TOLVARO_WIN32=off "$tree/wine-run.sh" --wine32)
rc=$?
[ $rc -eq 1 ] && [ "$out" = "TOLVARO_WIN32=off asks to run no 32-bit programs" ] ||
  fail "--wine32 with the switch: exit $rc, '$out'"

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "with TOLVARO_WIN32=off: $(printf '%s\n' "$skipped" | wc -l) tests skipped with the reason, $(printf '%s\n' "$passed" | wc -l) file checks passed"
