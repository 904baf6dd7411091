#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (systemd for systemd-analyze,
# which checks the service's unit; nlohmann-json3-dev reads the JSON of `status` back).
# Idempotent: does nothing when everything is there. Run as root (or with sudo available).
set -euo pipefail
packages=(build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 unixodbc-dev unixodbc tdsodbc libsqliteodbc libcli11-dev
  librsvg2-bin zlib1g-dev systemd nlohmann-json3-dev)
# One look at dpkg for all of them: the check is what runs every time.
installed=" $({ dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${packages[@]}" 2>/dev/null ||
  true; } | awk '$2 == "ii" { printf "%s ", $1 }') "
missing=()
for p in "${packages[@]}"; do
  [[ "$installed" == *" $p "* ]] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
