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
