#!/usr/bin/env bash
# Builds the test programs whose code runs on more than one thread (PWM-safe worker, update
# worker, location completion) with ThreadSanitizer in build-tsan/ and runs them.
#   tools/tsan.sh [gtest filter]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash tools/setup.sh

export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAMBRANO_TSAN=ON -DAMBRANO_BENCH=OFF >/dev/null
programs=(brightness online schedule)
cmake --build build-tsan -j "$(nproc)" --target "${programs[@]/%/_tests}" ambrano-release

# Qt is not built with ThreadSanitizer, so how it hands data between its own threads (futex
# mutexes, atomics in its libraries) is invisible here: calls made from inside Qt are not
# checked (ignore_noninstrumented_modules), every access from this project's code is. Some
# tests start helper processes from a threaded program (die_after_fork=0).
export TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:ignore_noninstrumented_modules=1:second_deadlock_stack=1:suppressions=$PWD/tests/support/tsan.supp"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
export AMBRANO_RELEASE_TOOL=$PWD/build-tsan/tools/ambrano-release
status=0
for p in "${programs[@]}"; do
  echo "== $p"
  build-tsan/tests/${p}_tests --gtest_brief=1 ${1:+--gtest_filter="$1"} || status=1
done
exit $status
