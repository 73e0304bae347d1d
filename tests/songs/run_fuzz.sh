#!/bin/sh
# Builds the song file fuzz target with clang and libFuzzer, apart from the
# g++ build, and runs it for a bounded time.
# Usage: run_fuzz.sh SOURCE_DIR OUTPUT_DIR [SECONDS]
# Exits 77 (skipped) when clang++ or its libFuzzer runtime is not installed.
set -u
src=$1
out=$2
seconds=${3:-20}
cxx=${FUZZ_CXX:-clang++}

if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "fuzz: $cxx is not installed, skipped"
  exit 77
fi
mkdir -p "$out/corpus" || exit 1

probe="$out/probe.cpp"
printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
  'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' > "$probe"
if ! "$cxx" -fsanitize=fuzzer "$probe" -o "$out/probe" 2>/dev/null; then
  echo "fuzz: $cxx has no libFuzzer runtime, skipped"
  exit 77
fi

# Only the song library: plain C++ that needs neither Qt nor the instrument.
sources="$src/tests/songs/fuzz_songfile.cpp $(echo "$src"/src/songs/*.cpp) $src/src/songs/platform/files_posix.cpp $src/src/songs/platform/codepage_iconv.cpp"
binary="$out/fuzz_songfile"
rebuild=no
[ -x "$binary" ] || rebuild=yes
for f in $sources "$src"/src/songs/*.h "$src"/src/songs/platform/*.h; do
  [ "$f" -nt "$binary" ] && rebuild=yes
done
if [ $rebuild = yes ]; then
  echo "fuzz: building $binary"
  # shellcheck disable=SC2086
  "$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I "$src/src" $sources -o "$binary" || exit 1
fi

cp "$src"/tests/data/song_*.hbk "$src"/tests/data/*.mid "$out/corpus/" 2>/dev/null
# Every input is written to a file and synced; in memory that costs nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  TMPDIR=/dev/shm
  export TMPDIR
fi
cd "$out" || exit 1
# libFuzzer's own failure code is 77, which CTest would take for a skip.
"$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -error_exitcode=1 -timeout_exitcode=1 \
  -print_final_stats=1 -artifact_prefix="$out/" "$out/corpus"
rc=$?
[ $rc -eq 77 ] && rc=1
exit $rc
