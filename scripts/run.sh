#!/usr/bin/env bash
# The main job: builds the project (installing what is missing), sets up an embedded home
# when the folder has none (Korlan.Ini, the databases in Data/), runs one schedule pass on
# it and says where the logs are.
# Usage: scripts/run.sh [HOME]        HOME defaults to ./home
# Environment: BUILD_DIR (default build/), ZEL_NOW="YYYY/MM/DD HH:MM" to fix the clock.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
home=${1:-./home}

"$root/scripts/build.sh"
exe=${BUILD_DIR:-$root/build}/app/zelkl-calc

mkdir -p "$home"
home=$(cd "$home" && pwd)
ini="$home/Korlan.Ini"
# A home whose Korlan.Ini names a SQL Server is used as it is.
if [ ! -d "$home/Data" ] && ! grep -Eqi '^[[:space:]]*SERVERNAME[[:space:]]*=[[:space:]]*[^[:space:]]' "$ini" 2>/dev/null; then
  echo "setting up the embedded home $home"
  "$exe" --home "$home" db init
fi

"$exe" --home "$home" tick
echo "log files in $home/Logs:"
ls -1 "$home/Logs" | sed 's/^/  /'
