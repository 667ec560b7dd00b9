#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer, in a build
# folder of its own (build-asan/), against the test sound server and an Xvfb display as
# scripts/test.sh runs it. Any sanitizer report fails the test it occurs in, including
# reports from the program when a test runs it as a process. Not part of the test command:
# the instrumented build of the whole tree takes several times as long as the normal one.
#
#   scripts/sanitize.sh [ctest arguments...]      e.g. scripts/sanitize.sh -R test_archive
#
# Leaks are checked too (LeakSanitizer at each process's exit). Memory that a library keeps
# until exit by design is suppressed in scripts/lsan.supp, by the library's own function
# names: a whole library there would hide our leaks too, since our code runs under its
# callbacks. VANTREL_DETECT_LEAKS=0 turns the leak check off.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=$top/build-asan
jobs=${VANTREL_JOBS:-2}

configure_start=$(date +%s)
cmake -S "$top" -B "$build" -DVANTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"
build_seconds=$(($(date +%s) - configure_start))

source scripts/lib/desktop.sh
vt_begin_session vantrel-asan
trap 'exit 130' INT TERM
vt_start_test_services 221 250

# Address and leak reports go to files named after the process, so that those of a program
# a test starts are seen as well; the exit code fails the process that made them.
reports=$top/build-asan/sanitizer-reports
rm -rf "$reports"; mkdir -p "$reports"
leaks=${VANTREL_DETECT_LEAKS:-1}
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=23:detect_leaks=$leaks:detect_stack_use_after_return=1:strict_init_order=1:log_path=$reports/asan"
export LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=23:log_path=$reports/ubsan"

test_start=$(date +%s)
status=0
ctest --test-dir "$build" --output-on-failure -j2 --timeout 1200 "$@" | tee "$build/ctest.log" || status=$?
test_seconds=$(($(date +%s) - test_start))

echo
echo "== sanitizer build: built in ${build_seconds} s, tests ran in ${test_seconds} s"
grep -E '^[0-9]+% tests passed|tests failed out of' "$build/ctest.log" || true
# Undefined-behaviour reports go to the test's output (the address sanitizer's runtime
# keeps its log path to itself); address and leak reports to the report folder.
shopt -s nullglob
files=("$reports"/*)
undefined=$(grep -E 'runtime error:' "$build/ctest.log" | sort | uniq -c || true)
if ((${#files[@]})) || [[ -n $undefined ]]; then
  if [[ -n $undefined ]]; then
    echo "== undefined behaviour (count, location, what):"
    echo "$undefined"
  fi
  for f in "${files[@]}"; do
    echo "-- ${f##*/}"
    grep -E 'ERROR: |runtime error:|SUMMARY: |^    #[0-9]+ ' "$f" | head -14
  done
  status=1
else
  echo "== no sanitizer reports (leak check $([[ $leaks == 1 ]] && echo on || echo off))"
fi
exit "$status"
