# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by run.sh and test.sh: installs the Debian packages that are missing (apt-get
# update first, only when something is missing) and builds into ./build (test.sh also into
# ./build-asan).
packages=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libgl-dev zlib1g-dev
          xvfb xauth x11-utils imagemagick fonts-liberation fonts-dejavu-core
          binutils help2man dpkg-dev file lintian appstream desktop-file-utils bash-completion
          clang libclang-rt-14-dev llvm g++-mingw-w64-x86-64-posix postgresql libpq-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null; then sudo=(sudo); else
            echo "These packages are missing: ${missing[*]}. Install them as root, then run $0 again." >&2
            exit 1
        fi
    fi
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -G Ninja
    cmake --build build
}

# The same tree built by clang with AddressSanitizer and UndefinedBehaviorSanitizer, and
# the fuzzing harnesses, into ./build-asan.
build_sanitized() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVORALITH_SANITIZE=ON
    cmake --build build-asan
}

