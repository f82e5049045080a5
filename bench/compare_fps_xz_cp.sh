#!/usr/bin/env bash
# Times "fps" against standard tools on the same bytes, on this machine:
#   - an archive holding a 32 MiB TLZC member whose file was edited (one byte
#     changed) against "xz --format=lzma" of the data with the same settings
#     on one thread: target <= 0.5 x;
#   - the same archive unedited against "xz -dc" of that data: target <= 1.0 x;
#   - an archive of about 1 GiB of plain members (1 KiB to 256 MiB) against
#     "cp" of the archive followed by "sync" of the copy: target <= 1.3 x, and
#     a peak resident set of at most 80 MiB.
# The archive is put back before every run of the TLZC cases. Each pair runs
# back to back, RUNS times; the fastest run of each counts.
#
#   bench/compare_fps_xz_cp.sh [RUNS] [MIB]     (default 3 runs, 1024 MiB)
#
# The big files go to a directory under TMPDIR (default /tmp), removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
mib="${2:-1024}"

bench_name=fps
. bench/archive_common.sh

# ---- 32 MiB TLZC member, edited and unedited, against xz
"$bench" --write-tlzc "$work/source.dat" "$work/member.bin"
cp "$work/source.dat" "$work/tlzc.dat"
"$fpskit" unfps "$work/tlzc.dat" >/dev/null
member="$work/tlzc/tlzc_001.bin"
cmp -s "$member" "$work/member.bin" || { echo "the unpacked member differs from its data"; exit 1; }
cp "$member" "$work/edited.bin"
printf '\125' | dd of="$work/edited.bin" bs=1 seek=$((11 << 20)) conv=notrunc status=none
xz --format=lzma $xz_settings -T1 -c "$work/member.bin" > "$work/member.lzma"
fps_edited="" fps_unedited="" xz_compress="" xz_dc="" fps_tlzc_rss=""
for _ in $(seq "$runs"); do
  cp "$work/source.dat" "$work/tlzc.dat"; cp "$work/edited.bin" "$member"
  read -r wall rss < <(measure "$fpskit" fps "$work/tlzc.dat")
  fps_edited=$(min "$fps_edited" "$wall"); fps_tlzc_rss=$(min "$fps_tlzc_rss" "$rss")
  read -r wall rss < <(measure sh -c "xz --format=lzma $xz_settings -T1 -c '$work/member.bin' > '$work/xz.lzma'")
  xz_compress=$(min "$xz_compress" "$wall")
  cp "$work/source.dat" "$work/tlzc.dat"; cp "$work/member.bin" "$member"
  read -r wall rss < <(measure "$fpskit" fps "$work/tlzc.dat")
  fps_unedited=$(min "$fps_unedited" "$wall")
  read -r wall rss < <(measure sh -c "xz --format=lzma -dc '$work/member.lzma' > '$work/xz.out'")
  xz_dc=$(min "$xz_dc" "$wall")
done
cmp -s "$work/source.dat" "$work/tlzc.dat" || { echo "the unedited archive did not come back byte for byte"; exit 1; }
cp "$work/edited.bin" "$member"
"$fpskit" fps "$work/tlzc.dat" >/dev/null
rm -rf "$work/tlzc"
"$fpskit" unfps "$work/tlzc.dat" >/dev/null
cmp -s "$member" "$work/edited.bin" || { echo "the edited member did not come back"; exit 1; }
rm -rf "$work/tlzc" "$work"/*.lzma "$work/xz.out" "$work"/*.bin "$work"/*.dat

# ---- about 1 GiB of plain members against cp and sync
"$bench" --write-plain "$work/plain.dat" "$mib"
"$fpskit" unfps "$work/plain.dat" >/dev/null
cp "$work/plain.dat" "$work/original.dat"
size=$(stat -c %s "$work/plain.dat")
fps_plain="" cp_plain="" fps_rss="" cp_rss=""
for _ in $(seq "$runs"); do
  rm -f "$work/copy.dat"
  read -r wall rss < <(measure sh -c "cp '$work/plain.dat' '$work/copy.dat' && sync '$work/copy.dat'")
  cp_plain=$(min "$cp_plain" "$wall"); cp_rss=$(min "$cp_rss" "$rss")
  rm -f "$work/copy.dat"
  read -r wall rss < <(measure "$fpskit" fps "$work/plain.dat")
  fps_plain=$(min "$fps_plain" "$wall"); fps_rss=$(min "$fps_rss" "$rss")
done
cmp -s "$work/plain.dat" "$work/original.dat" || { echo "the plain archive did not come back byte for byte"; exit 1; }
members=$(ls "$work/plain" | wc -l)

echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg); best of $runs runs (wall seconds, peak resident set)"
printf '  fps, 32 MiB TLZC member, one byte edited : %7s s  %6d KiB\n' "$fps_edited" "$fps_tlzc_rss"
printf '  xz --format=lzma, 1 thread               : %7s s\n' "$xz_compress"
printf '  fps, 32 MiB TLZC member, unedited        : %7s s\n' "$fps_unedited"
printf '  xz --format=lzma -dc                     : %7s s\n' "$xz_dc"
printf '  fps, %d plain members, %d MiB          : %7s s  %6d KiB\n' "$members" $((size >> 20)) "$fps_plain" "$fps_rss"
printf '  cp and sync of the archive               : %7s s  %6d KiB\n' "$cp_plain" "$cp_rss"
echo "ratios"
check "fps edited TLZC member / xz compress" "$(ratio "$fps_edited" "$xz_compress")" 0.5
check "fps unedited TLZC member / xz -dc" "$(ratio "$fps_unedited" "$xz_dc")" 1.0
check "fps plain members / cp and sync" "$(ratio "$fps_plain" "$cp_plain")" 1.3
check "fps plain members peak RSS (MiB)" "$(awk -v k="$fps_rss" 'BEGIN { printf "%.1f", k / 1024 }')" 80
