#!/usr/bin/env bash
# A long fuzz campaign over the bank response path (native tree: libFuzzer, ASan, UBSan).
#   fuzz/campaign.sh [RUNS] [WORKERS]     default 10,000,000 executions in all, 1 worker
# Workers share the executions between them (RUNS / WORKERS each). New inputs collect in
# build/native/fuzz/campaign; at the end they are merged (minimised by coverage) into
# fuzz/corpus, the corpus kept in the repository, from which the short run in the test suite
# starts. A crash stops the campaign and leaves its input (crash-*) in build/native/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
RUNS=${1:-10000000}
WORKERS=${2:-1}
BIN=build/native/fuzz/fuzz_json_to_value
OUT=build/native/fuzz/campaign
[ -d build/native ] || cmake --preset native >/dev/null
cmake --build build/native --target fuzz_json_to_value >/dev/null
mkdir -p "$OUT" fuzz/corpus
OPTS=(-max_len=65536 -timeout=10 -rss_limit_mb=2048 -dict="$ROOT/fuzz/json.dict" -print_final_stats=1)

pids=()
for w in $(seq 1 "$WORKERS"); do
  # In the build tree's fuzz folder, where libFuzzer leaves crash inputs.
  (cd build/native/fuzz && exec "$ROOT/$BIN" "${OPTS[@]}" -runs=$((RUNS / WORKERS)) \
      "$ROOT/$OUT" "$ROOT/fuzz/corpus" "$ROOT/fuzz/seeds") >"$OUT.worker$w.log" 2>&1 &
  pids+=($!)
done
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT INT TERM
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
trap - EXIT INT TERM
total=0
for w in $(seq 1 "$WORKERS"); do
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$OUT.worker$w.log")
  total=$((total + ${n:-0}))
  grep -E '^stat::' "$OUT.worker$w.log" | sed "s/^/worker $w: /"
done
echo "executions in all: $total"
if [ "$rc" -ne 0 ]; then
  echo "a worker failed: see $OUT.worker*.log" >&2
  exit 1
fi
# Keep the corpus small: only inputs that add coverage to what fuzz/corpus and the seeds give.
"$BIN" -merge=1 "${OPTS[@]}" fuzz/corpus "$OUT" >"$OUT.merge.log" 2>&1
echo "fuzz/corpus: $(ls fuzz/corpus | wc -l) inputs"
