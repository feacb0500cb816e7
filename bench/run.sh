#!/bin/bash
# `make bench`: writes the benchmark database (bench/bench_forge.cpp) into
# bench/data/ once, then times, with the files in the page cache, the floor
# (`cat` of the datafiles), the scans and the unloads, and prints one table.
# Each time is the median of BENCH_RUNS runs; peak memory is the largest of
# them.  Later work adds rows (export dump, LOBs, index-organized tables):
# keep the columns and the existing rows as they are.
#
#   BENCH_BUILD  build directory (default build-bench, RelWithDebInfo)
#   BENCH_RUNS   runs per figure (default 5)
#   BENCH_SCALE  divide the datafile size by this, for a quick try (default 1)
#   BENCH_ZOR    the zor binary to measure (default: the one just built)
#   BENCH_BASELINE  another zor binary (an older build) to measure against:
#                the serial unload to /dev/null by both, taken in turn, and
#                the ratio of their CPU times; both must write the same file
#
# Besides the wall-clock figures each row gives the CPU time (user + sys of
# ZOR and its threads and workers) and, from it, MB/s of datafile and rows/s
# per core: what one core does, whatever the others do meanwhile.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
runs=${BENCH_RUNS:-5}
scale=${BENCH_SCALE:-1}
db=$root/bench/data/db
[ "$scale" = 1 ] || db=$root/bench/data/db-1of$scale

# Peak memory comes from GNU time.
if [ ! -x /usr/bin/time ]; then
  echo "installing: time"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq time >/dev/null
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target zor bench_forge forge >/dev/null
zor=${BENCH_ZOR:-$build/zor}
case $zor in /*) ;; *) zor=$PWD/$zor ;; esac
baseline=${BENCH_BASELINE:-}
if [ -n "$baseline" ]; then
  case $baseline in /*) ;; *) baseline=$PWD/$baseline ;; esac
  [ -x "$baseline" ] || { echo "BENCH_BASELINE: $baseline is not an executable" >&2; exit 2; }
fi

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# The database is written again only when the generator changed.
stamp=$db/forge_seconds
if [ ! -f "$stamp" ] || [ "$build/bench_forge" -nt "$stamp" ]; then
  rm -rf "$db"
  mkdir -p "$(dirname "$db")"
  start=$(now)
  "$build/bench_forge" "$db" "$scale" >/dev/null
  elapsed "$start" "$(now)" >"$stamp"
  (cd "$db" && printf 'OPEN bench.cfg\nUNLOAD TABLE DICT$;\nEXIT\n' | "$zor" >bootstrap.log)
fi
cd "$db"
# The same datafiles inside an ASM disk group (disk0.img, disks.lst,
# asm.cfg), packed once per database.
if [ ! -f asm.cfg ] || [ "$stamp" -nt asm.cfg ]; then
  rm -f disk*.img disks.lst asm.cfg
  "$build/forge" asm . $(awk '{ print $1 }' bench.cfg)
fi
read -r _ rows_big bytes_big < <(grep '^ROWS ' rows.txt)
read -r _ rows_quarter bytes_quarter < <(grep '^QUARTER ' rows.txt)
bytes_files=$(($(stat -c %s bench01.dbf) + $(stat -c %s bench02.dbf)))
cat bench01.dbf bench02.dbf system01.dbf >/dev/null   # into the page cache

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# CPU seconds (user + sys) of the last command timed into rss.txt.
cpu_of_run() { awk 'NR == 1 { printf "%.3f", $1 + $2 }' rss.txt; }

# measure LABEL BYTES ROWS_EXPECTED COMMAND...   (COMMAND "cat" or ZOR lines)
# Sets: secs, cpu, rss_mb, rows_seen.
measure() {
  local label=$1 bytes=$2 expect=$3
  shift 3
  local times=() cpus=() rss=0 i t0 t1 kb
  rows_seen=-
  for ((i = 0; i < runs; i++)); do
    # Each run starts with no file of the last one still being written back.
    rm -f unload.txt unload.dmp
    sync
    if [ "$1" = cat ]; then
      t0=$(now)
      /usr/bin/time -f '%U %S %M' -o rss.txt cat $floor_files >/dev/null
      t1=$(now)
      kb=0
    else
      printf '%s\n' "OPEN $config" "$@" "EXIT" >bench.zor
      t0=$(now)
      /usr/bin/time -f '%U %S %M' -o rss.txt "$zor" <bench.zor >zor.log 2>&1
      t1=$(now)
      kb=$(awk 'NR == 1 { print $3 }' rss.txt)
      local n
      n=$(sed -n 's/^Sucessfully unload \([0-9]*\) rows.*/\1/p' zor.log | tail -n 1)
      [ -n "$n" ] && rows_seen=$n
    fi
    times+=("$(elapsed "$t0" "$t1")")
    cpus+=("$(cpu_of_run)")
    [ "$kb" -gt "$rss" ] && rss=$kb
  done
  secs=$(printf '%s\n' "${times[@]}" | median)
  cpu=$(printf '%s\n' "${cpus[@]}" | median)
  [ -z "$floor" ] && floor=$secs
  local mbs rps ratio mem mbc rpc
  mbs=$(awk -v b="$bytes" -v s="$secs" 'BEGIN { printf "%.0f", b / 1e6 / s }')
  mbc=$(awk -v b="$bytes" -v s="$cpu" 'BEGIN { if (s > 0) printf "%.0f", b / 1e6 / s; else print "-" }')
  rps=-
  rpc=-
  [ "$rows_seen" != - ] && rps=$(awk -v r="$rows_seen" -v s="$secs" 'BEGIN { printf "%.0f", r / s }')
  [ "$rows_seen" != - ] && rpc=$(awk -v r="$rows_seen" -v s="$cpu" 'BEGIN { if (s > 0) printf "%.0f", r / s; else print "-" }')
  ratio=$(awk -v s="$secs" -v f="$floor" 'BEGIN { printf "%.2f", s / f }')
  mem=-
  [ "$rss" -gt 0 ] && mem=$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')
  printf '%-52s %8.3f %8s %11s %7s %9s %8.3f %10s %12s\n' "$label" "$secs" "$mbs" "$rps" "$ratio" "$mem" \
    "$cpu" "$mbc" "$rpc"
  if [ "$expect" != - ] && [ "$rows_seen" != "$expect" ]; then
    echo "  !! expected $expect rows, ZOR reported $rows_seen"
  fi
}

columns="COLUMN NUMBER NUMBER NUMBER VARCHAR2 DATE CHAR VARCHAR2 TIMESTAMP"
floor=
config=bench.cfg
floor_files="bench01.dbf bench02.dbf"
echo "ZOR benchmark: 2 datafiles of $((bytes_files / 2 / 1048576)) MiB, 8192-byte blocks, in the page cache;" \
  "median of $runs runs"
echo "BENCH.ROWS: $rows_big rows in $((bytes_big / 1048576)) MiB of extents;" \
  "BENCH.QUARTER: $rows_quarter rows in $((bytes_quarter / 1048576)) MiB"
echo "forge: database written in $(cat "$stamp") s"
echo "machine: $(nproc) online cores; load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
echo
printf '%-52s %8s %8s %11s %7s %9s %8s %10s %12s\n' "run" "seconds" "MB/s" "rows/s" "x cat" "peak MB" \
  "CPU s" "MB/s/core" "rows/s/core"
measure "cat of both datafiles (the floor)" "$bytes_files" - cat
measure "SCAN EXTENT" "$bytes_files" - "SCAN EXTENT;"
scan_plain=$secs
measure "SCAN PARALLELEXT" "$bytes_files" - "SCAN PARALLELEXT;"
# The extent file of the last scan serves UNLOAD OBJECT; UNLOAD TABLE walks
# the segment header's extent map.
mv ZORDICT/ZOREXT.TXT extents.txt
measure "UNLOAD TABLE BENCH.ROWS TO /dev/null" "$bytes_big" "$rows_big" \
  "UNLOAD TABLE BENCH.ROWS TO /dev/null;"
serial_null=$secs
measure "UNLOAD TABLE BENCH.ROWS TO a file" "$bytes_big" "$rows_big" \
  "UNLOAD TABLE BENCH.ROWS TO unload.txt;"
serial_file=$secs
sum=$(md5sum <unload.txt | cut -c1-32)
size=$(stat -c %s unload.txt)
# The same rows as an export dump (to be within 1.2 x the text file's time).
measure "UNLOAD TABLE BENCH.ROWS TO an export dump file" "$bytes_big" "$rows_big" \
  "UNLOAD TABLE BENCH.ROWS TO unload.dmp;"
# The same unload by worker processes: the file must be the same bytes.
parallel_rows() {
  local setting=$1 label=$2
  measure "UNLOAD TABLE BENCH.ROWS PARALLEL $label TO /dev/null" "$bytes_big" "$rows_big" \
    "SET PARALLEL $setting" "UNLOAD TABLE BENCH.ROWS TO /dev/null;"
  local null_secs=$secs
  measure "UNLOAD TABLE BENCH.ROWS PARALLEL $label TO a file" "$bytes_big" "$rows_big" \
    "SET PARALLEL $setting" "UNLOAD TABLE BENCH.ROWS TO unload.txt;"
  [ "$(md5sum <unload.txt | cut -c1-32)" = "$sum" ] || echo "  !! PARALLEL $label wrote other bytes than PARALLEL 1"
  ratios+=("$(awk -v l="$label" -v a="$serial_null" -v b="$null_secs" -v c="$serial_file" -v d="$secs" \
    'BEGIN { printf "PARALLEL %-6s speed-up over PARALLEL 1: TO /dev/null %.2fx, TO a file %.2fx; file / null %.2f", l, a / b, c / d, d / b }')")
}
ratios=("PARALLEL 1      TO a file / TO /dev/null: $(awk -v a="$serial_file" -v b="$serial_null" 'BEGIN { printf "%.2f", a / b }')")
parallel_rows 2 2
parallel_rows AUTO "AUTO($(nproc))"
# The ratios again, each from runs taken one right after the other: this
# machine's speed drifts over minutes, which the medians of rows measured
# minutes apart take for a difference between them.  "Side by side" is two
# PARALLEL 1 unloads at once: what two cores give two independent processes
# here (shared caches, memory, the host), the ceiling of PARALLEL 2.
once() {
  printf '%s\n' "OPEN $config" "$@" "EXIT" >bench.zor
  rm -f unload.txt
  sync
  local t0
  t0=$(now)
  "$zor" <bench.zor >/dev/null 2>&1
  secs=$(elapsed "$t0" "$(now)")
}
side_by_side_once() {
  printf '%s\n' "OPEN $config" "UNLOAD TABLE BENCH.ROWS TO /dev/null;" "EXIT" >bench.zor
  local t0
  t0=$(now)
  "$zor" <bench.zor >/dev/null 2>&1 &
  "$zor" <bench.zor >/dev/null 2>&1
  wait
  secs=$(elapsed "$t0" "$(now)")
}
interleaved() {
  local file_null=() speed_up=() ceiling=() i a b c d
  for ((i = 0; i < runs; i++)); do
    once "UNLOAD TABLE BENCH.ROWS TO /dev/null;"
    a=$secs
    once "UNLOAD TABLE BENCH.ROWS TO unload.txt;"
    b=$secs
    once "SET PARALLEL 2" "UNLOAD TABLE BENCH.ROWS TO /dev/null;"
    c=$secs
    side_by_side_once
    d=$secs
    file_null+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b / a }')")
    speed_up+=("$(awk -v a="$a" -v c="$c" 'BEGIN { printf "%.3f", a / c }')")
    ceiling+=("$(awk -v a="$a" -v d="$d" 'BEGIN { printf "%.3f", 2 * a / d }')")
  done
  local head="interleaved, median of $runs:"
  ratios+=("$head PARALLEL 1 TO a file / TO /dev/null $(printf '%s\n' "${file_null[@]}" | median)")
  ratios+=("$head PARALLEL 2 speed-up over PARALLEL 1 TO /dev/null $(printf '%s\n' "${speed_up[@]}" | median)x")
  ratios+=("$head two PARALLEL 1 unloads side by side do $(printf '%s\n' "${ceiling[@]}" | median)x the work of one (the ceiling of PARALLEL 2 here)")
}
interleaved
# The baseline binary against this one: the serial unload to /dev/null by
# each in turn (which goes first alternates), the ratio of CPU times taken
# pair by pair; then one unload to a file by each, which must be the same
# bytes.
against_baseline() {
  [ -n "$baseline" ] || return 0
  local cpu_new=() cpu_old=() wall_new=() wall_old=() cpu_ratio=() wall_ratio=() i which bin t0 t1
  local c_new c_old w_new w_old
  for ((i = 0; i < runs; i++)); do
    for which in new old; do
      bin=$zor
      if { [ "$which" = old ] && [ $((i % 2)) = 0 ]; } || { [ "$which" = new ] && [ $((i % 2)) = 1 ]; }; then
        bin=$baseline
      fi
      printf '%s\n' "OPEN $config" "UNLOAD TABLE BENCH.ROWS TO /dev/null;" "EXIT" >bench.zor
      t0=$(now)
      /usr/bin/time -f '%U %S %M' -o rss.txt "$bin" <bench.zor >/dev/null 2>&1
      t1=$(now)
      if [ "$bin" = "$zor" ]; then
        c_new=$(cpu_of_run)
        w_new=$(elapsed "$t0" "$t1")
      else
        c_old=$(cpu_of_run)
        w_old=$(elapsed "$t0" "$t1")
      fi
    done
    cpu_new+=("$c_new")
    cpu_old+=("$c_old")
    wall_new+=("$w_new")
    wall_old+=("$w_old")
    cpu_ratio+=("$(awk -v a="$c_old" -v b="$c_new" 'BEGIN { printf "%.3f", a / b }')")
    wall_ratio+=("$(awk -v a="$w_old" -v b="$w_new" 'BEGIN { printf "%.3f", a / b }')")
  done
  local m_cpu_new m_cpu_old
  m_cpu_new=$(printf '%s\n' "${cpu_new[@]}" | median)
  m_cpu_old=$(printf '%s\n' "${cpu_old[@]}" | median)
  local head="baseline $baseline, UNLOAD TABLE BENCH.ROWS TO /dev/null at PARALLEL 1, interleaved, median of $runs:"
  ratios+=("$head CPU $m_cpu_old s, this build $m_cpu_new s: $(printf '%s\n' "${cpu_ratio[@]}" | median)x faster")
  ratios+=("  wall $(printf '%s\n' "${wall_old[@]}" | median) s, this build $(printf '%s\n' "${wall_new[@]}" | median) s: $(printf '%s\n' "${wall_ratio[@]}" | median)x; rows/s per core $(awk -v r="$rows_big" -v s="$m_cpu_old" 'BEGIN { printf "%.0f", r / s }'), this build $(awk -v r="$rows_big" -v s="$m_cpu_new" 'BEGIN { printf "%.0f", r / s }')")
  local old_sum
  printf '%s\n' "OPEN $config" "UNLOAD TABLE BENCH.ROWS TO unload.txt;" "EXIT" >bench.zor
  rm -f unload.txt
  "$baseline" <bench.zor >/dev/null 2>&1
  old_sum=$(md5sum <unload.txt | cut -c1-32)
  if [ "$old_sum" = "$sum" ]; then
    ratios+=("baseline unload file of BENCH.ROWS: md5 $old_sum, the same bytes")
  else
    ratios+=("  !! the baseline wrote other bytes: md5 $old_sum, this build $sum")
  fi
}
against_baseline
rm -f unload.txt
measure "UNLOAD OBJECT COLUMN ... (extent file) TO /dev/null" "$bytes_big" "$rows_big" \
  "UNLOAD OBJECT 88001 EXTENT extents.txt $columns TO /dev/null;"
measure "UNLOAD TABLE BENCH.QUARTER TO /dev/null (1/4 size)" "$bytes_quarter" "$rows_quarter" \
  "UNLOAD TABLE BENCH.QUARTER TO /dev/null;"
cat disk*.img >/dev/null   # into the page cache
measure "SCAN EXTENT (the datafiles in an ASM disk group)" "$bytes_files" - \
  "ASM OPEN disks.lst" "OPEN asm.cfg" "SCAN EXTENT;"
scan_asm=$secs
rm -f unload.txt unload.dmp

# LOBs: the BLOBs of bench/lobs.forge unloaded one file each, against cat of
# the datafile holding their LOB segment (its own floor).
lobdb=$root/bench/data/lobs
if [ ! -f "$lobdb/lobs.cfg" ] || [ "$build/forge" -nt "$lobdb/lobs.cfg" ] || [ "$root/bench/lobs.forge" -nt "$lobdb/lobs.cfg" ]; then
  rm -rf "$lobdb"
  "$build/forge" "$root/bench/lobs.forge" "$lobdb" >/dev/null
  (cd "$lobdb" && mkdir -p ZORDICT LOBDATA && printf 'OPEN lobs.cfg\nUNLOAD TABLE DICT$;\nEXIT\n' | "$zor" >bootstrap.log)
fi
cd "$lobdb"
cat lob01.dbf system01.dbf >/dev/null
config=lobs.cfg
floor_files=lob01.dbf
floor=
bytes_lobs=$(stat -c %s lob01.dbf)
measure "cat of the LOB datafile (the LOB floor)" "$bytes_lobs" - cat
measure "UNLOAD TABLE BENCH.LOBS, BLOBs to LOB files" "$bytes_lobs" 4 \
  "SET LOB_STORAGE 1" "UNLOAD TABLE BENCH.LOBS TO unload.txt;"
lob_sum=$(cat $(cut -d'|' -f2 unload.txt | tr -d '\r') | md5sum | cut -c1-32)
rm -rf unload.txt LOBDATA/*
echo
echo "SCAN EXTENT through ASM: $(awk -v a="$scan_asm" -v p="$scan_plain" 'BEGIN { printf "%.2f", a / p }')x the plain-file scan"
echo "unload file of BENCH.ROWS: $size bytes, md5 $sum"
echo "LOB files of BENCH.LOBS: md5 of their concatenation $lob_sum"
printf '%s\n' "${ratios[@]}"
echo "machine: $(nproc) online cores; load average at end $(cut -d' ' -f1-3 /proc/loadavg)"
