#!/usr/bin/env bash
# Times "fps" against standard tools on the same bytes, on this machine:
#   - an archive holding a 32 MiB TLZC member whose file was edited (one byte
#     changed) against "xz --format=lzma" of the data with the same settings
#     on one thread: target <= 0.5 x;
#   - the same archive unedited against "xz -dc" of that data: target <= 0.7 x;
#   - an archive holding one BIG MiB TLZC member (default 512), edited and
#     unedited: their times, and a peak resident set of at most 80 MiB;
#   - an archive of about 1 GiB of plain members (1 KiB to 256 MiB) against
#     "cp" of the archive followed by "sync" of the copy: target <= 1.3 x, and
#     a peak resident set of at most 80 MiB.
# The archive is put back before every run of the TLZC cases. Each case runs
# RUNS times, the standard tool back to back with it; the fastest run counts,
# printed with the load average right after it. With
# FPSKIT_BASELINE=/path/to/an/older/fpskit, the older binary runs beside the
# new one in every case.
#
#   bench/compare_fps_xz_cp.sh [RUNS] [MIB] [BIG]   (default 3 runs, 1024 MiB, 512 MiB; BIG 0 skips it)
#
# The big files go to a directory under TMPDIR (default /tmp), removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
mib="${2:-1024}"
big="${3:-512}"

bench_name=fps
. bench/archive_common.sh

# tlzc_cases NAME MIB: the edited and unedited runs of an archive holding one
# TLZC member of MIB MiB, checked byte for byte afterwards.
tlzc_cases() {
  local name="$1" size="$2"
  "$bench" --write-tlzc "$work/source.dat" "$work/member.bin" "$size"
  cp "$work/source.dat" "$work/$name.dat"
  "$fpskit" unfps "$work/$name.dat" >/dev/null
  local member="$work/$name/${name}_001.bin"
  cmp -s "$member" "$work/member.bin" || { echo "the unpacked member differs from its data"; exit 1; }
  cp "$member" "$work/edited.bin"
  printf '\125' | dd of="$work/edited.bin" bs=1 seek=$((11 << 20)) conv=notrunc status=none
  for _ in $(seq "$runs"); do
    for k in "${!binaries[@]}"; do
      cp "$work/source.dat" "$work/$name.dat"; cp "$work/edited.bin" "$member"
      run "$name-edited-${labels[$k]}" "${binaries[$k]}" fps "$work/$name.dat"
      cp "$work/source.dat" "$work/$name.dat"; cp "$work/member.bin" "$member"
      run "$name-unedited-${labels[$k]}" "${binaries[$k]}" fps "$work/$name.dat"
      cmp -s "$work/source.dat" "$work/$name.dat" || { echo "the unedited archive did not come back byte for byte"; exit 1; }
    done
    if [ "$name" = tlzc ]; then
      run xz-compress sh -c "xz --format=lzma $xz_settings -T1 -c '$work/member.bin' > '$work/xz.lzma'"
      run xz-dc sh -c "xz --format=lzma -dc '$work/xz.lzma' > '$work/xz.out'"
    fi
  done
  cp "$work/edited.bin" "$member"
  "$fpskit" fps "$work/$name.dat" >/dev/null
  rm -rf "$work/$name"
  "$fpskit" unfps "$work/$name.dat" >/dev/null
  cmp -s "$member" "$work/edited.bin" || { echo "the edited member did not come back"; exit 1; }
  rm -rf "$work/$name" "$work"/*.lzma "$work"/xz.out "$work"/*.bin "$work"/*.dat
}

tlzc_cases tlzc 32
if [ "$big" -gt 0 ]; then tlzc_cases big "$big"; fi

# ---- about 1 GiB of plain members against cp and sync
"$bench" --write-plain "$work/plain.dat" "$mib"
"$fpskit" unfps "$work/plain.dat" >/dev/null
cp "$work/plain.dat" "$work/original.dat"
size=$(stat -c %s "$work/plain.dat")
for _ in $(seq "$runs"); do
  rm -f "$work/copy.dat"
  run cp sh -c "cp '$work/plain.dat' '$work/copy.dat' && sync '$work/copy.dat'"
  rm -f "$work/copy.dat"
  for k in "${!binaries[@]}"; do
    run "plain-${labels[$k]}" "${binaries[$k]}" fps "$work/plain.dat"
  done
done
cmp -s "$work/plain.dat" "$work/original.dat" || { echo "the plain archive did not come back byte for byte"; exit 1; }
members=$(ls "$work/plain" | wc -l)

echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg); best of $runs runs (wall seconds, peak resident set)"
for label in "${labels[@]}"; do
  show "tlzc-edited-$label" "fps ($label), 32 MiB TLZC member, one byte edited"
  show "tlzc-unedited-$label" "fps ($label), 32 MiB TLZC member, unedited"
done
show xz-compress "xz --format=lzma, 1 thread"
show xz-dc "xz --format=lzma -dc"
if [ "$big" -gt 0 ]; then
  for label in "${labels[@]}"; do
    show "big-edited-$label" "fps ($label), $big MiB TLZC member, one byte edited"
    show "big-unedited-$label" "fps ($label), $big MiB TLZC member, unedited"
  done
fi
for label in "${labels[@]}"; do
  show "plain-$label" "fps ($label), $members plain members, $((size >> 20)) MiB"
done
show cp "cp and sync of the archive"
echo "ratios"
for label in "${labels[@]}"; do
  ratio_of "tlzc-edited-$label" xz-compress 0.5 "fps ($label) edited TLZC member / xz compress"
  ratio_of "tlzc-unedited-$label" xz-dc 0.7 "fps ($label) unedited TLZC member / xz -dc"
  if [ "$big" -gt 0 ]; then
    peak_of "big-edited-$label" 80 "fps ($label) $big MiB member, edited, peak RSS (MiB)"
    peak_of "big-unedited-$label" 80 "fps ($label) $big MiB member, unedited, peak RSS (MiB)"
  fi
  ratio_of "plain-$label" cp 1.3 "fps ($label) plain members / cp and sync"
  peak_of "plain-$label" 80 "fps ($label) plain members peak RSS (MiB)"
done
