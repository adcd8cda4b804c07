#!/usr/bin/env bash
# Builds the Debian package: a Release build with Debian's hardening flags into build-package/,
# packed by CPack into build-package/talvora_VERSION_ARCH.deb, and checked by lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The flags Debian builds its own packages with (hardening included), as dpkg-buildflags says.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS=$(dpkg-buildflags --get CFLAGS) CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
  cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALVORA_BUILD_TESTS=OFF >/dev/null
cmake --build build-package --parallel "$(nproc)"
(cd build-package && cpack -G DEB)
deb=$(ls build-package/talvora_*.deb | head -1)
lintian --display-info --pedantic "$deb"
echo "$deb"
