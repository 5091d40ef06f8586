#!/usr/bin/env bash
# tools/fuzz.sh [TARGET [SECONDS]] — builds the fuzz targets with clang's libFuzzer (build-fuzz/) and runs
# one (settingsFile, wavFile, previewRender, spectralOps or soundImport; default wavFile) for SECONDS (default 60), starting from its kept inputs.
# A crash input it finds belongs in tests/fuzz/inputs/<folder>/, where ./test replays it. FUZZ_JOBS limits
# the build jobs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-wavFile}
seconds=${2:-60}
if ! command -v clang++ >/dev/null 2>&1; then
    echo "tools/fuzz.sh needs clang++ (Debian: apt-get install clang)" >&2
    exit 1
fi
case "$target" in
    settingsFile) folder=settings_file ;;
    wavFile) folder=wav_file ;;
    previewRender) folder=preview_render ;;
    spectralOps) folder=spectral_ops ;;
    soundImport) folder=sound_import ;;
    *) echo "unknown target $target (settingsFile, wavFile, previewRender, spectralOps or soundImport)" >&2; exit 2 ;;
esac
CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONAVIK_FUZZ=ON \
    -DSONAVIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-fuzz" --target "fuzz_$target" -j "${FUZZ_JOBS:-$(nproc)}"
corpus=$(mktemp -d)
cp "$top/tests/fuzz/inputs/$folder/"* "$corpus/"
"$top/build-fuzz/tests/fuzz_$target" -max_total_time="$seconds" -artifact_prefix="$top/build-fuzz/crash-$folder-" "$corpus"
