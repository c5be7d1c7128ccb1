#!/usr/bin/env bash
# The benchmark never reports a figure it did not measure: options that would measure nothing
# are refused with exit code 2 and a reason, before anything runs; write-doc.py leaves the page
# as it was when the table holds a row without a measured figure or a verdict.
#   refusals-test.sh WINE_RUN BENCH_EXE WRITE_DOC_PY
set -u
run=$1 exe=$2 write_doc=$3
# Where this tree's programs cannot run, the runner says why and exits 77: a skip.
gate=$("$run" --gate true 2>&1) || {
  rc=$?
  echo "$gate"
  exit "$rc"
}
failed=0
bad() {
  echo "FAILED: $*"
  failed=1
}

for args in "--rounds 0" "--rounds abc" "--cycles 0" "--cycles 12x" "--objects 0" "--objects -5" \
  "--rounds 99999999999" "--only nothing" "--only" "--warp 1"; do
  # shellcheck disable=SC2086  # each case is a list of words
  err=$("$run" "$exe" $args 2>&1 >/dev/null </dev/null)
  rc=$?
  if [ "$rc" -ne 2 ]; then bad "tolvaro_bench $args: exit code $rc, not 2 ($err)"; fi
  if ! grep -q '^tolvaro_bench: .' <<<"$err"; then bad "tolvaro_bench $args: no reason given ($err)"; fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf 'text before\n<!-- bench:begin -->\nthe last run\n<!-- bench:end -->\ntext after\n' >"$tmp/page.md"
cp "$tmp/page.md" "$tmp/before.md"
head='| figure | measured | target | met |
|---|---|---|---|'
good='| Dispatch: Close | 2.25x (medians 32 ns / 14 ns) | <= 3x | yes |'
while IFS='|' read -r name row; do
  printf 'Measured now:\n\n%s\n%s\n%s\n' "$head" "$good" "$row" | python3 "$write_doc" "$tmp/page.md" >/dev/null 2>&1
  rc=$?
  if [ "$rc" -eq 0 ]; then bad "write-doc.py took a table with $name"; fi
  if ! cmp -s "$tmp/page.md" "$tmp/before.md"; then bad "write-doc.py changed the page for a table with $name"; fi
done <<'CASES'
a figure of no number|| Steady: growth | nan% (0 KiB) | < 1% | yes |
an empty figure|| Pay: latency |  | 0 .. 600 ms | yes |
no verdict|| Pay: latency | 502 ms | 0 .. 600 ms |  |
a row cut short|| Pay: latency | 502 ms |
CASES
printf 'no table at all\n' | python3 "$write_doc" "$tmp/page.md" >/dev/null 2>&1 && bad "write-doc.py took a block without a table"
cmp -s "$tmp/page.md" "$tmp/before.md" || bad "write-doc.py changed the page for a block without a table"

# A whole table goes in between the markers, and nothing else changes.
printf 'Measured now:\n\n%s\n%s\n' "$head" "$good" | python3 "$write_doc" "$tmp/page.md" || bad "write-doc.py refused a whole table"
grep -qF "$good" "$tmp/page.md" || bad "the table is not on the page"
grep -q 'the last run' "$tmp/page.md" && bad "the last run's block is still on the page"
{ head -1 "$tmp/page.md" | grep -qx 'text before' && tail -1 "$tmp/page.md" | grep -qx 'text after'; } ||
  bad "the text around the markers changed"

[ "$failed" -eq 0 ] && echo "every refusal held"
exit "$failed"
