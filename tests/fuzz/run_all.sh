#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each on a small seed corpus for the given number of seconds.
# Usage: tests/fuzz/run_all.sh [seconds-per-target] [build-dir]
# Installs clang and libclang-rt-14-dev (libFuzzer and the sanitizer runtimes) when
# missing. The corpora
# grow under <build-dir>/fuzz-corpus; crashing inputs land in <build-dir>/fuzz-artifacts.
set -euo pipefail

seconds=${1:-60}
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${2:-$repo/build-fuzz}
sanitizers="-fsanitize=address,undefined"
"$repo/tools/install-deps.sh" fuzz

# The plug-in module links with --no-undefined, which the sanitizer runtime (linked into
# the program, not the module) cannot satisfy; -z undefs at the end of the line lifts it.
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLIRAWEB_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers" \
  -DCMAKE_MODULE_LINKER_FLAGS="$sanitizers" -DCMAKE_CXX_STANDARD_LIBRARIES="-Wl,-z,undefs" >/dev/null

targets=(field_list_fuzz nmurl_fuzz page_producer_fuzz param_derivation_fuzz sjis_like_fuzz
         int_conversion_fuzz error_log_fuzz cgi_request_fuzz catalog_record_fuzz
         search_statement_fuzz)
cmake --build "$build" -j 2 --target "${targets[@]}"

corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

# seed <target> <printf format>...: one seed file for each format.
seed() {
  local target=$1 n=0
  shift
  mkdir -p "$corpus/$target"
  for format in "$@"; do
    # shellcheck disable=SC2059  # the seeds are printf formats on purpose
    printf "$format" >"$corpus/$target/seed$((n++))"
  done
}

# The targets that take their input apart with FuzzedDataProvider read strings from the
# front (a backslash and another byte end one) and numbers from the back.
seed field_list_fuzz 'name=%%41&x=a+b' 'a%%%%b&&"quoted&field"&c="d&e"f' \
  '  p="1 2" q=\x27v\x27  r=%%8E%%9A' 'bad=%%zz&ok=1'
seed nmurl_fuzz 'title=\x8a\xbf\x8e\x9a one+two' '%%41%%4' 'a%%2Bb+c'
seed page_producer_fuzz '<html><#Title><#Rows max=10 from="a b">\r\n</html>\r\n' \
  '<p>1 < 2 <<#x></p><# >' 'abc\r\n<#IMAGE src=%%2F>\x00tail' '<#t a="1'
seed param_derivation_fuzz 'select * from books where id = :id and t like :"t 1"' \
  "select '::x', :a, ::b from t where c = :c;" 'where a = :\x83\x5c and b = `:q`'
seed sjis_like_fuzz '%%\x82\xa0%%\\X\x82\xa0abc\x00' '\\\\%%a\\Xa%%b\x01' \
  '\xb6\xde%%\\X\xb6\xde\x83\x4b\x00' 'A_\\Xab\x00'
seed int_conversion_fuzz '123' '  -2147483648' '$7fffffff' '0x10' 'x-1' '+0X1f'
seed error_log_fuzz 'EConvertError\\Xmessage, with "quotes"\r\nline\x07\xd5\x02\x03\x0a\x05\x2a'
seed cgi_request_fuzz 'POST\\X5\\Xa=1&b=%%41\x08\x00\x02' 'a=1&b=%%zz&c\\Xb\x03\x01'
seed catalog_record_fuzz \
  'B-001\tTitle\t\t\t\t\t4-10-101013-7\t\t\t1200\t2001\t300\t\t\t\t\t\t\tu1\t2024-02-29' \
  'x\ty\t\t\t\t\t978-4-10-101013-7\t\t\t\t\t\t\t\t\t\t\t2\t\t'
seed search_statement_fuzz 'title\\Xauthor\\X\\X\\X\\X\x01\x1f'

failed=0
for target in "${targets[@]}"; do
  log=$build/fuzz-$target.log
  if "$build/$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "$target: $result, ${runs:-?} runs, ${rate:-?} per second (log: $log)"
done
exit $failed
