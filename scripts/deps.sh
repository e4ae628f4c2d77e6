#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need (only those missing).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 libpq-dev postgresql pgbouncer
  libmsgpack-cxx-dev libasio-dev libssl-dev openssl libsodium-dev
  # The server's log (spdlog, on the shared fmt) and its formatting (fmt).
  libspdlog-dev libfmt-dev
  qt6-base-dev qt6-charts-dev qt6-translations-l10n libgl-dev libxlsxwriter-dev
  libsimdjson-dev nlohmann-json3-dev
  clang libclang-rt-14-dev
  xvfb xauth x11vnc openbox fonts-dejavu-core fonts-dejavu-extra
  poppler-utils unzip python3
  # A spreadsheet nobody here wrote reads the exports back (tests_export_roundtrip), headless.
  libreoffice-calc-nogui
  # The server under systemd (sd_notify), and the Debian packages' test (scripts/package-test):
  # lintian checks them, systemd-analyze their unit, man-db their man page, curl the metrics.
  libsystemd-dev systemd lintian adduser man-db curl qt6-qpa-plugins
  # The command lines of app-server, screen-driver and the benchmarks (header-only).
  libcli11-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Instalando pacotes: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
