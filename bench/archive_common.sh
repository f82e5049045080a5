# Shared by the archive benchmark scripts: builds the release binaries, makes a
# work directory under TMPDIR (removed on exit) and defines the timing helpers.
# The sourcing script sets bench_name first.
scripts/build.sh release >/dev/null
fpskit="$PWD/build/fpskit"
bench=build/archive_bench
work="$(mktemp -d "${TMPDIR:-/tmp}/fpskit-$bench_name-XXXXXX")"
trap 'rm -rf "$work"' EXIT
xz_settings="--lzma1=dict=64KiB,lc=3,lp=0,pb=2,mode=normal,nice=32,mf=bt4,depth=32"

# Wall seconds and peak resident set (KiB) of one run, from /usr/bin/time.
measure() {
  local report="$work/time.txt"
  /usr/bin/time -v -o "$report" "$@" >/dev/null
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$report")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$report")
  echo "$wall $rss"
}
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
check() {  # name value target
  awk -v n="$1" -v v="$2" -v t="$3" 'BEGIN { printf "  %-44s %6.2f (target <= %.2f) %s\n", n, v, t, (v <= t ? "met" : "MISSED") }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) hardware threads"

# An older build to compare with, run side by side in the same minute:
# FPSKIT_BASELINE=/path/to/old/fpskit. Every case then runs the new binary and
# the old one back to back, and reports both.
binaries=("$fpskit")
labels=(new)
if [ -n "${FPSKIT_BASELINE:-}" ]; then
  binaries+=("$FPSKIT_BASELINE")
  labels+=(old)
fi

# The best wall time of every case, the one-minute load average right after
# that run, and the largest peak resident set of its runs.
declare -A best best_load peak
# run NAME COMMAND...: one timed run of a case.
run() {
  local name="$1" wall rss
  shift
  read -r wall rss < <(measure "$@")
  if [ -z "${best[$name]:-}" ] || awk -v a="$wall" -v b="${best[$name]}" 'BEGIN { exit !(a < b) }'; then
    best[$name]=$wall
    best_load[$name]=$(cut -d' ' -f1 /proc/loadavg)
  fi
  if [ -z "${peak[$name]:-}" ] || [ "$rss" -gt "${peak[$name]}" ]; then peak[$name]=$rss; fi
}
# show NAME TEXT: one line of the report.
show() {
  printf '  %-52s %8s s  %8d KiB  (load %s)\n' "$2" "${best[$1]}" "${peak[$1]}" "${best_load[$1]}"
}
# ratio_of A B TARGET TEXT: the ratio of two cases' best times against a target.
ratio_of() {
  check "$4" "$(ratio "${best[$1]}" "${best[$2]}")" "$3"
}
# peak_of NAME TARGET TEXT: a case's peak resident set in MiB against a target.
peak_of() {
  check "$3" "$(awk -v k="${peak[$1]}" 'BEGIN { printf "%.1f", k / 1024 }')" "$2"
}
