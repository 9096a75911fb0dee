#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and then either starts the program
# or runs every test.
#
#   tools/bootstrap.sh run     install what is missing, build, start BranchKeeper
#   tools/bootstrap.sh test    install what is missing, build, run the whole suite
#                              (a normal build, then an AddressSanitizer/UBSan build)
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
if [[ $mode != run && $mode != test ]]; then
    echo "usage: $0 run|test" >&2
    exit 2
fi

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libsqlite3-dev sqlite3
          libgtest-dev libbenchmark-dev fonts-dejavu-core xvfb xauth twm desktop-file-utils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)
# The test builds treat every warning as an error; the program's own build
# does not, so a newer compiler's new warning cannot keep anyone from it.
werror=OFF
[[ $mode == test ]] && werror=ON
# The build also writes dbPro.mdb (if none is there yet), pic1/ and pic2/
# beside the executable, in build/bin.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRANCHKEEPER_WERROR=$werror
cmake --build build -j "$jobs"

if [[ $mode == run ]]; then
    exec build/bin/branchkeeper
fi

# GUI tests use Qt's offscreen platform: no display needed.
ctest --test-dir build --output-on-failure -j "$jobs"

# The same suite under AddressSanitizer and UBSan: the tree is rebuilt from
# inside Qt's own event handling, and this is where a freed node would show.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRANCHKEEPER_SANITIZE=ON -DBRANCHKEEPER_WERROR=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
