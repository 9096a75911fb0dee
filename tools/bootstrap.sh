#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and then either starts the program
# or runs every test.
#
#   tools/bootstrap.sh run     install what is missing, build, start BranchKeeper
#   tools/bootstrap.sh test    install what is missing, build, run the whole suite
#                              (a normal build, then an AddressSanitizer/UBSan build),
#                              then fuzz the window for a minute
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
if [[ $mode != run && $mode != test ]]; then
    echo "usage: $0 run|test" >&2
    exit 2
fi

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-qpa-plugins libsqlite3-dev sqlite3 libcmark-dev
          libgtest-dev libbenchmark-dev fonts-dejavu-core xvfb xauth twm desktop-file-utils)
# In test mode only: for the screen-reader test, Orca, its speech (a dummy
# output module, no sound device), the accessibility bus and xdotool to type;
# for the install test, GLib's gio, which starts a desktop entry as a desktop does.
test_packages=(orca speech-dispatcher speech-dispatcher-audio-plugins libasound2-data at-spi2-core dbus
               dbus-x11 xdotool x11-xkb-utils libglib2.0-bin)
# The fuzz step, in test mode only: clang 16 (with the system's libstdc++, as
# Qt), its libFuzzer and sanitizer runtimes, and llvm-symbolizer for readable
# reports.
fuzz_packages=(clang-16 libclang-rt-16-dev llvm-16)

source tools/install_missing.sh
install_missing "${packages[@]}"
if [[ $mode == test ]]; then
    install_missing "${test_packages[@]}"
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

# A minute of fuzzing (fuzz/fuzz_actions.cpp, tools/fuzz.sh): libFuzzer with
# AddressSanitizer and UBSan drives the real window through user actions on
# stores of every shape, good and broken.
install_missing "${fuzz_packages[@]}"
tools/fuzz.sh 60 "$jobs"
