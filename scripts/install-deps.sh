#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, benchmarking and fuzzing need, when missing.
# Extra package names given as arguments are installed the same way (bench/run passes its own).
set -euo pipefail

# The one list of packages the build needs.
PACKAGES=(
    cmake
    ninja-build
    g++
    clang
    libclang-rt-14-dev # libFuzzer and the sanitizer runtimes for clang
    llvm               # llvm-symbolizer, so sanitizer reports of the fuzz builds name functions and lines
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    libicu-dev
    nlohmann-json3-dev # the reference parser of the JSON conformance test
    libxerces-c-dev    # the XML parser under intl/'s SAX and DOM layers
    pkg-config
    libsystemd-dev # sd-bus: the login manager's sleep signal on the system bus
    dbus-daemon    # a private bus for the sleep notifier's test
)

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in "${PACKAGES[@]}" "$@"; do
    is_installed "$package" || missing+=("$package")
done

if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo" >&2
    exit 1
fi

"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
