#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) in build-fuzz/ and runs each
# for a bounded time: tools/fuzz.sh [seconds per target, default 60] [target...]
# Each run starts from the seeds in fuzz/corpus/<target>/ and grows a working corpus in
# build-fuzz/corpus/<target>/ (the repository's seeds are left as they are). Inputs that crash
# land in build-fuzz/findings/<target>/; the script exits non-zero when there is any.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-60}
shift || true

need=()
command -v clang++ >/dev/null || need+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAMBRANO_FUZZ=ON -DAMBRANO_TESTS=OFF -DAMBRANO_BENCH=OFF >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(tips manifest version geo settings base64 archive)
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

found=0
summary=()
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t findings=build-fuzz/findings/$t log=build-fuzz/fuzz-$t.log
  mkdir -p "$corpus" "$findings"
  dict=()
  case $t in tips|manifest|geo|settings) dict=(-dict=fuzz/json.dict) ;; esac
  status=0
  build-fuzz/fuzz/fuzz_$t "$corpus" fuzz/corpus/$t "${dict[@]}" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(find "$corpus" -type f | wc -l)
  note=ok
  if [ "$status" -ne 0 ] || compgen -G "$findings/*" >/dev/null; then
    found=1
    note="FOUND: $(ls "$findings" | tr '\n' ' ')(see $log)"
  fi
  summary+=("$(printf '%-9s %10s runs %8s/s  cov %5s  ft %6s  corpus %5s  %s' "$t" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$units" "$note")")
done
printf '%s\n' "${summary[@]}"
exit $found
