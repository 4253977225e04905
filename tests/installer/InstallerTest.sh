#!/usr/bin/env bash
# InstallerTest.sh MAKE_MSI STAGEDIR VERSION NEXT_VERSION TESTBIN x86|x64 WINE_LOADER
# Makes the package of the staged folder for its architecture twice, as VERSION and as the
# higher NEXT_VERSION, and runs test_installer on them under Wine.
set -euo pipefail
make_msi=$1 stage=$2 version=$3 next=$4 bin=$5 arch=$6 wine=$7
packages=$bin/packages
rm -rf "$packages"
"$make_msi" "$stage" "$arch" "$version" "$packages/Orvix-$version-$arch.msi"
"$make_msi" "$stage" "$arch" "$next" "$packages/Orvix-$next-$arch.msi"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export ORVIX_TEST_MSI ORVIX_TEST_MSI_NEXT ORVIX_TEST_VERSION=$version ORVIX_TEST_NEXT_VERSION=$next
ORVIX_TEST_MSI=$(winpath "$packages/Orvix-$version-$arch.msi")
ORVIX_TEST_MSI_NEXT=$(winpath "$packages/Orvix-$next-$arch.msi")
# Shortcuts made by the installer would otherwise become menu entries of the Linux desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
cd "$bin"
exec "$(dirname "$0")/../../scripts/wine-exec" "$wine" ./test_installer.exe \
  --gtest_output=xml:../test-results/test_installer.xml
