#!/usr/bin/env bash
# The main job: builds the project (installing what is missing), sets up an embedded demo
# home when the folder has none (Korlan.Ini, the databases in Data/, a demo organisation
# with a daily schedule entry for the current month), runs one schedule pass on it, prints
# a short summary of the results and of the permissions its special-card punches and web
# requests became, then calculates the whole month into MahWork and prints a second
# summary line from it. Builds only the executable (scripts/test.sh builds the tests and
# benchmarks in the same folder) and ends with the time each step took.
# Usage: scripts/run.sh [HOME]        HOME defaults to ./home
# Environment: BUILD_DIR (default build/), PERSONS (demo size, default 200),
#              ZEL_NOW="YYYY/MM/DD HH:MM" to fix the clock.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
home=${1:-./home}

# Each step's wall time, printed when the job ends (also when a step fails).
times=()
step() {
  local name=$1 start=${EPOCHREALTIME/./} rc=0
  shift
  "$@" || rc=$?
  local us=$(( ${EPOCHREALTIME/./} - start ))
  times+=("$(printf '  %-32s %5d.%d s' "$name" $((us / 1000000)) $((us / 100000 % 10)))")
  return $rc
}
job_start=${EPOCHREALTIME/./}
print_times() {
  local us=$(( ${EPOCHREALTIME/./} - job_start ))
  echo "time taken:"
  printf '%s\n' "${times[@]}"
  printf '  %-32s %5d.%d s\n' total $((us / 1000000)) $((us / 100000 % 10))
}
trap print_times EXIT

step "packages (scripts/setup.sh)" "$root/scripts/setup.sh"
step "build zelkl-calc" "$root/scripts/build.sh" zelkl-calc
exe=${BUILD_DIR:-$root/build}/app/zelkl-calc

mkdir -p "$home"
home=$(cd "$home" && pwd)
ini="$home/Korlan.Ini"
# A home whose Korlan.Ini names a SQL Server is used as it is.
if [ ! -d "$home/Data" ] && ! grep -Eqi '^[[:space:]]*SERVERNAME[[:space:]]*=[[:space:]]*[^[:space:]]' "$ini" 2>/dev/null; then
  echo "setting up the embedded demo home $home"
  step "demo home" "$exe" --home "$home" db demo --persons "${PERSONS:-200}"
fi

step "schedule pass (tick)" "$exe" --home "$home" tick

year=$("$exe" --home "$home" sql "SELECT TOP 1 CalcYear FROM CSSchedule ORDER BY ScheduleId" | tail -n +2)
if [ -n "$year" ]; then
  base=$(sed -n 's/^[[:space:]]*DATABASENAME[[:space:]]*=[[:space:]]*//Ip' "$ini" | tr -d '\r' | head -1)
  echo "results in ${base:-Att}_$year (minutes summed over persons and days):"
  "$exe" --home "$home" sql --database "${base:-Att}_$year" \
    "SELECT COUNT(DISTINCT PerNo) AS Persons, COUNT(*) AS Days, SUM(WorkTotal) AS Work,
            SUM(NW_Late_First + NW_Late_Last) AS Lateness, SUM(ExtraWorkTotal) AS ExtraWork,
            SUM(NW_Absent) AS Absence, SUM(DailyAbsence) AS AbsentDays FROM DayWork"
  "$exe" --home "$home" sql \
    "SELECT COUNT(*) AS ErrorsReported FROM CSSLog WHERE LTrim(PerNo) <> ''"
  echo "permissions on record (hourly and whole-day leaves and missions, service late), and"
  echo "requests left waiting (uncertain or colliding with a sheet on record):"
  "$exe" --home "$home" sql --database "${base:-Att}_$year" \
    "SELECT (SELECT COUNT(*) FROM Morkhasi) AS HourlyLeave, (SELECT COUNT(*) FROM DayMor) AS DailyLeave,
            (SELECT COUNT(*) FROM Mission) AS HourlyMission, (SELECT COUNT(*) FROM DayMam) AS DailyMission,
            (SELECT COUNT(*) FROM ServLate) AS ServiceLate,
            (SELECT COUNT(*) FROM TmpMor) + (SELECT COUNT(*) FROM TmpMam)
              + (SELECT COUNT(*) FROM TmpSLate) AS Waiting"

  # The month: the daily pass calculated its days up to today; the days after it (the demo
  # has their records) are calculated too, then the month is summed into MahWork.
  today=$("$exe" --home "$home" sql --database "${base:-Att}_$year" \
    "SELECT MAX(DDate) AS Today FROM DayWork" | tail -n +2 | tr -d ' \r')
  if [ -n "$today" ]; then
    mm=${today%/*}
    last=$("$exe" --home "$home" sql --database "${base:-Att}_$year" \
      "SELECT MAX(DBEGINDATE) AS Last FROM CalItem WHERE DBEGINDATE LIKE '$mm/%'" | tail -n +2 | tr -d ' \r')
    next=$mm/$(printf '%02d' $((10#${today#*/} + 1)))
    if [ -n "$last" ] && [[ ! "$next" > "$last" ]]; then
      step "rest of the month (calc daily)" \
        "$exe" --home "$home" calc daily --year "$year" --from "$next" --to "$last" >/dev/null
    fi
    step "the month (calc monthly)" \
      "$exe" --home "$home" calc monthly --year "$year" --from "$((10#$mm))" --to "$((10#$mm))" >/dev/null
    echo "month $mm of $year in MahWork (minutes summed over persons):"
    "$exe" --home "$home" sql --database "${base:-Att}_$year" \
      "SELECT COUNT(*) AS Persons, SUM(WorkTotal) AS Work, SUM(ExtraWorkTotal) AS ExtraWork,
              SUM(NonWorkTotal) AS Absence, SUM(OrdMor) AS LeaveUsed,
              SUM(MorkhasiLeft) AS LeaveLeft FROM MahWork WHERE MMonth = $((10#$mm))"
  fi
fi
echo "log files in $home/Logs"
