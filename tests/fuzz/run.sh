#!/bin/sh
# Builds the image-analysis fuzz targets with clang's libFuzzer, ASan and
# UBSan, makes seed inputs with the image builder, and runs each target for
# SECONDS (default 60). Exits non-zero when a target finds a crash.
#   tests/fuzz/run.sh [SECONDS]
# Output goes to $PELLRIX_FUZZ_DIR (default: build-fuzz in the source tree).
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${PELLRIX_FUZZ_DIR:-$root/build-fuzz}
cxx=${PELLRIX_FUZZ_CXX:-clang++}
mkdir -p "$out"

flags="-std=c++20 -g -O1 -I$root -fno-exceptions -fno-rtti"
sanitize="-fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
program="$root/image/descriptor_locator.cpp $root/image/masking.cpp $root/image/checksums.cpp $root/image/volume_walker.cpp"

"$cxx" $flags $sanitize -o "$out/fuzz_image" "$root/tests/fuzz/fuzz_image.cpp" $program
"$cxx" $flags $sanitize -o "$out/fuzz_checksums" "$root/tests/fuzz/fuzz_checksums.cpp" $program
"$cxx" $flags $sanitize -o "$out/fuzz_volume_walker" "$root/tests/fuzz/fuzz_volume_walker.cpp" $program
"$cxx" -std=c++20 -O1 -I"$root" -o "$out/make_seeds" "$root/tests/fuzz/make_seeds.cpp" "$root/sim/image_builder.cpp"

mkdir -p "$out/seeds_image" "$out/seeds_checksums" "$out/corpus_image" "$out/corpus_checksums" \
  "$out/corpus_volume_walker"
"$out/make_seeds" "$out/seeds_image" "$out/seeds_checksums"
# The walker reads the same images as the locator and the masks.
rm -rf "$out/seeds_volume_walker"
cp -r "$out/seeds_image" "$out/seeds_volume_walker"

status=0
for target in image checksums volume_walker; do
  echo "== fuzz_$target for ${seconds}s"
  if ! (cd "$out" && ./fuzz_$target -max_total_time="$seconds" -max_len=20000 -print_final_stats=1 \
        "corpus_$target" "seeds_$target"); then
    echo "fuzz_$target FAILED" >&2
    status=1
  fi
done
exit $status
