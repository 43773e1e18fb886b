#!/usr/bin/env bash
# Builds the Debian package quarvex_VERSION_ARCH.deb into the repository's
# top folder with CPack, from a build folder of its own (build-deb/) made
# with Debian's hardening flags, then shows the package's files and what
# lintian says of it. Fails when lintian reports an error.
# Install the package with: sudo apt install ./quarvex_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-packages.sh
tools=()
for p in dpkg-dev lintian; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || tools+=("$p")
done
if [ ${#tools[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${tools[@]}"
fi

# The compiler and linker flags Debian builds its packages with.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS" CFLAGS="$CFLAGS $CPPFLAGS"
build=build-deb
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEX_BENCH=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds; the tests are built by ./test.sh.
cmake --build "$build" -j "$(nproc)" --target quarvex quarvex-convert quarvex_docs
rm -f "$build"/quarvex_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/quarvex_*.deb)
mv "$package" .
package=$(basename "$package")

echo "== $package"
dpkg-deb --field "$package"
echo "== files"
dpkg-deb --contents "$package" | awk '{print $1, $3, $6}'
# Every tag down to the pedantic and experimental ones is shown; only
# errors fail the build of the package.
echo "== lintian"
report=$(lintian --display-info --pedantic --display-experimental "$package" 2>&1 | grep -v "^running with root privileges" || true)
echo "${report:-(no tags)}"
lintian --fail-on error "$package" >/dev/null 2>&1
echo "lintian: no errors in $package"
