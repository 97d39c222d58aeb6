#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the packages and the tests need and this machine
# lacks, and the editor extension's tools with npm as editors/vscode/package-lock.json pins them.
#   install-deps.sh       everything (make build, test, bench, dist)
#   install-deps.sh run   what building and running the program needs (make run, make console)
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
packages=(cmake make python3 mingw-w64 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 xvfb xauth
          googletest fonts-wqy-microhei x11-apps imagemagick tar gzip)
everything=true
[ "${1:-}" = run ] && everything=false
if $everything; then
  # The MSI (wixl, msitools), signing (osslsigncode; openssl makes the tests' certificate),
  # and Node.js with npm for the editor extension, Debian's when the machine has none.
  packages+=(wixl msitools osslsigncode openssl)
  command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

# Local dev dependencies only (never global); again whenever the lock file changed.
extension="$here/editors/vscode"
installed="$extension/node_modules/.package-lock.json"
if $everything && { [ ! -f "$installed" ] || [ "$extension/package-lock.json" -nt "$installed" ]; }; then
  echo "Installing the editor extension's tools (npm ci in editors/vscode)" >&2
  (cd "$extension" && npm ci --no-audit --no-fund --loglevel=error)
fi
