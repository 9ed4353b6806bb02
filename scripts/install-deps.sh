#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Cronalto
# need, and only those that are missing: a machine that already has them all
# is left alone, without even an `apt-get update`. Run as root, or as a user
# who may use sudo.
set -euo pipefail

packages=(
    # compilers and build tools
    build-essential cmake make g++ ccache pkg-config
    # clang for the libFuzzer targets (libclang-rt-dev carries the fuzzer
    # runtime, which apt would otherwise bring only as a recommendation), and
    # clang-format for `make format`
    clang libclang-rt-dev clang-format
    # Qt 6 with the SQL drivers of both engines
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql
    # Qt's own Portuguese texts (file dialogs, standard buttons, calendars)
    qt6-translations-l10n
    # libraries the program links
    libsqlite3-dev sqlite3 zlib1g-dev libjpeg-dev libcanberra-dev
    # tests and benchmarks; libssl-dev lets the tests compare our Blowfish
    # with OpenSSL's (the program itself does not link it)
    libgtest-dev libgmock-dev googletest libbenchmark-dev libssl-dev
    # a virtual display for the screenshot script, with a key typist (the
    # login) and a window grabber
    xvfb xauth xdotool imagemagick
    # the PostgreSQL server the test suite's second pass runs against
    postgresql
    # a font for the reports and the offscreen widget tests
    fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    if [ "$status" != "install ok installed" ]; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: every package is installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
as_root=()
if [ "$(id -u)" != 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "install-deps: not root and sudo is missing; install as root: ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo)
fi

# Another apt run on the same machine holds the lock for a while; wait for it
# instead of failing at once.
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
"${apt[@]}" update
"${apt[@]}" install -y "${missing[@]}"
