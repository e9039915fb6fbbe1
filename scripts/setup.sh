#!/bin/bash
# Installs everything the build, the tests and the demo need. Idempotent: when
# all is in place it only checks and returns.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
third="$here/third_party"

packages=(
  build-essential cmake ninja-build ccache pkg-config git bc
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev
  wine wine64 xvfb xauth x11-apps xdotool imagemagick
  locales fonts-wqy-microhei
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libcpp-httplib-dev libstb-dev libcurl4-openssl-dev
  libsqlite3-dev sqlite3 libssl-dev
  # The fuzz build: clang and its libFuzzer runtime (libclang_rt.fuzzer-x86_64.a).
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Windows code page 936 needs the zh_CN.UTF-8 locale on the host.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# SQLite for the Windows build: the amalgamation shipped inside the npm
# package better-sqlite3 (the only registry here that carries the C source).
sqlite_pkg=better-sqlite3@12.4.1
if [ ! -f "$third/sqlite/sqlite3.c" ]; then
  command -v npm >/dev/null || { apt-get install -y -qq --no-install-recommends npm >/dev/null; }
  tmp=$(mktemp -d)
  (cd "$tmp" && npm pack --silent "$sqlite_pkg" >/dev/null)
  tar -xzf "$tmp"/better-sqlite3-*.tgz -C "$tmp" package/deps/sqlite3
  mkdir -p "$third/sqlite"
  cp "$tmp"/package/deps/sqlite3/sqlite3.c "$tmp"/package/deps/sqlite3/sqlite3.h "$third/sqlite/"
  version=$(grep -m1 '#define SQLITE_VERSION ' "$third/sqlite/sqlite3.h" | awk '{print $3}' | tr -d '"')
  echo "$sqlite_pkg SQLite $version" > "$third/sqlite/VERSION"
  rm -rf "$tmp"
  echo "setup: SQLite amalgamation $version from $sqlite_pkg"
fi
echo "setup: ok"
