#!/usr/bin/env bash
# Start-up benchmark: how long from starting an installer until its program starts, and the
# peak resident size, for the launcher and for plain extraction of the same zip by bsdtar,
# Info-ZIP unzip, a makeself archive of the same tree, and the one-thread zlib floor
# (bench/zlib_floor.cpp, with 1 MiB buffers and with 4 KiB in / 16 KiB out), on three
# payloads:
#   runtime: the demo payload with a jlink-made Java runtime bundled under package/jre
#   files:   20,000 small files in 200 directories, with a minimal runtime stand-in
#   large:   one 200 MB text entry (deflated) and one 50 MB entry of random bytes (stored),
#            with the same stand-in
# Every tool starts the same program: the runtime's bin/java is replaced by a stand-in shell
# script that writes the time it started, since the launcher holds for 10 seconds after
# starting Java by design and only the way to the program's start is compared. The tools
# take turns run by run, so that other load on the machine hits them alike.
# Usage: bench/startup/run.sh [runs per case, default 5]. Medians go to stdout and to
# $BUILD/bench-startup/results.md (BUILD defaults to build-release; WORK=DIR puts the work
# elsewhere). STUB=FILE measures another launcher binary (a variant build) in place of
# $BUILD/launcher. EXTRACT_DIR=DIR makes every tool unpack under DIR: by default a tmpfs
# (/dev/shm) when there is one. BASELINE=FILE adds another launcher binary (say, the last
# release) as a column, run on the same payloads in the same rounds. PAYLOADS="runtime files
# large" picks payloads (empty: none); RSS_MB="10 1000 2000" (empty: skip) also records the
# launcher's peak RSS on payloads of the large one's shape and these sizes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build-release}
runs=${1:-5}
work=${WORK:-$build/bench-startup}

payloads=${PAYLOADS-runtime files large}
rss_sizes=${RSS_MB-10 1000 2000}
tools=(floor floor-small bsdtar unzip makeself launcher)
[ -n "${BASELINE:-}" ] && tools+=(baseline)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target launcher mkinstaller demo_payload zlib_floor \
  >/dev/null 2>&1
floor_bin=$(find "$build" -name zlib_floor -type f -perm -u+x | head -n 1)
jre="$build/demo/jre"
if [ ! -x "$jre/bin/java" ]; then
  rm -rf "$jre"
  jlink --add-modules java.base --strip-debug --no-header-files --no-man-pages --output "$jre"
fi

rm -rf "$work"
mkdir -p "$work"
if [ -z "${EXTRACT_DIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  EXTRACT_DIR=/dev/shm/bench-startup.$$
  trap 'rm -rf "$EXTRACT_DIR"' EXIT
fi
scratch=${EXTRACT_DIR:-$work/tmp}
mkdir -p "$scratch"
stamp="$work/stamp"
export BENCH_STAMP="$stamp"
standin="$work/stand-in"
printf '#!/bin/sh\nexec /bin/date +%%s%%N > "$BENCH_STAMP"\n' > "$standin"
chmod 755 "$standin"

# --- payloads, each packed once by mkinstaller; the peers get the very same zip -----------
cp -r "$jre" "$work/jre-runtime"
cp "$standin" "$work/jre-runtime/bin/java"
mkdir -p "$work/jre-files/bin" "$work/jre-files/lib"
cp "$standin" "$work/jre-files/bin/java"
head -c 4096 /dev/zero > "$work/jre-files/lib/libjava.so"

cp -r "$build/demo/payload" "$work/tree-runtime"
mkdir -p "$work/tree-files"
cp "$build/demo/payload/vantor.class" "$work/tree-files/"
python3 - "$work/tree-files" <<'EOF'
import os, random, sys
rng = random.Random(7)
words = "install launcher payload archive runtime java window status locale catalog".split()
for d in range(200):
    folder = os.path.join(sys.argv[1], "data", "d%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        text = " ".join(rng.choice(words) for _ in range(rng.randint(20, 200))) + "\n"
        with open(os.path.join(folder, "f%03d.txt" % f), "w") as out:
            out.write(text)
EOF

# Log-like text: compresses about 5:1, like class files and jars.
text() {  # BYTES FILE
  # head ends the pipe early on purpose; the size check below catches a real failure.
  seq 1 1000000000 |
    awk '{ printf "%08d entry %s checksum %d\n", $1, ($1 % 7 ? "ok" : "retry"), ($1 * 7919) % 1000003 }' |
    head -c "$1" > "$2" || true
  [ "$(stat -c %s "$2")" -eq "$1" ]
}
# The large payload's shape at a total of MB megabytes: four fifths text, one fifth random.
large_tree() {  # MB DIR
  mkdir -p "$2/data"
  cp "$build/demo/payload/vantor.class" "$2/"
  text $(($1 * 1024 * 1024 * 4 / 5)) "$2/data/log.txt"
  head -c $(($1 * 1024 * 1024 / 5)) /dev/urandom > "$2/data/blob.bin"
}

stub=${STUB:-$build/launcher}
stub_size=$(stat -c %s "$stub")
# The packer deflates every file; a stored entry is packed by zip (-n: store .bin files), with
# the same runtime stand-in, and appended to the stub as the packer does.
pack_zip() {  # TREE RUNTIME ZIP
  rm -rf "$1/package/jre" && mkdir -p "$1/package" && cp -r "$2" "$1/package/jre"
  mkdir -p "$1/package/jre/lib/i386"  # where the launcher looks for the runtime
  cp "$1/package/jre/lib/libjava.so" "$1/package/jre/lib/i386/"
  (cd "$1" && SOURCE_DATE_EPOCH=0 zip -q -r -X -n .bin "$3" .)
  rm -rf "$1/package"
}
for payload in $payloads; do
  if [ "$payload" = large ]; then
    large_tree 250 "$work/tree-large"
    pack_zip "$work/tree-large" "$work/jre-files" "$work/large.zip"
    cat "$stub" "$work/large.zip" > "$work/large.launcher"
    chmod 755 "$work/large.launcher"
  else
    SOURCE_DATE_EPOCH=0 "$build/mkinstaller" --launcher "$stub" --jre "$work/jre-$payload" \
      -o "$work/$payload.launcher" "$work/tree-$payload" >/dev/null
    tail -c +$((stub_size + 1)) "$work/$payload.launcher" > "$work/$payload.zip"
  fi
  if [ -n "${BASELINE:-}" ]; then
    cat "$BASELINE" "$work/$payload.zip" > "$work/$payload.baseline"
    chmod 755 "$work/$payload.baseline"
  fi
  mkdir "$work/unpacked-$payload"
  unzip -q "$work/$payload.zip" -d "$work/unpacked-$payload"
  makeself --quiet --nox11 "$work/unpacked-$payload" "$work/$payload.run" "bench $payload" \
    ./package/jre/bin/java >/dev/null
  rm -rf "$work/unpacked-$payload" "$work/tree-$payload"
done
printf 'target.dir=%s/installed\n' "$work" > "$work/answers"

# --- one measured run: milliseconds to the stand-in's start, then peak RSS in KiB ---------
measure() {
  rm -f "$stamp" "$work/rss"
  sync  # the previous run's writes must not be flushed during this one
  local start=$EPOCHREALTIME
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 </dev/null || true
  [ -s "$stamp" ] || { echo "no program start recorded for: $*" >&2; exit 1; }
  awk -v s="$start" -v e="$(cat "$stamp")" -v m="$(tail -n 1 "$work/rss")" \
    'BEGIN { printf "%.1f %d\n", e / 1e6 - s * 1000, m }'
}

run_launcher() {
  measure "$work/$1.launcher" -silent "$work/answers" -tmpdir "$scratch"
}
run_baseline() {
  measure "$work/$1.baseline" -silent "$work/answers" -tmpdir "$scratch"
}
# The peers extract into a fresh directory and start the program from there, as the
# launcher does; the directory is removed outside the timed span.
run_extractor() {  # PAYLOAD COMMAND... (the command gets the target directory last)
  local dir="$scratch/peer" payload=$1
  shift
  measure sh -c '"$@" && cd "$0" && exec ./package/jre/bin/java' "$dir" "$@" "$dir"
  rm -rf "$dir"
}
run_bsdtar() { run_extractor "$1" sh -c 'mkdir "$1" && exec bsdtar -xf "$0" -C "$1"' "$work/$1.zip"; }
run_unzip() { run_extractor "$1" unzip -qq "$work/$1.zip" -d; }
run_floor() { run_extractor "$1" "$floor_bin" "$work/$1.zip"; }
run_floor-small() {
  run_extractor "$1" sh -c 'exec "$0" "$1" "$2" 4096 16384' "$floor_bin" "$work/$1.zip"
}
run_makeself() {
  TMPDIR="$scratch" measure "$work/$1.run" --quiet --nox11
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results="$work/results.md"
header="| payload | zlib floor, 1 MiB buffers | same, 4 KiB in / 16 KiB out | bsdtar | unzip | makeself | launcher | launcher / bsdtar | launcher / floor |"
rule="|---|---:|---:|---:|---:|---:|---:|---:|---:|"
echo "Median ms to program start:" > "$results"
echo "$header" >> "$results"
echo "$rule" >> "$results"
rss_table=("| payload | floor | floor-small | bsdtar | unzip | makeself | launcher |"
  "|---|---:|---:|---:|---:|---:|---:|")
for payload in $payloads; do
  for tool in "${tools[@]}"; do : > "$work/samples-$tool"; done
  # Round 0 warms the page cache; the tools take turns in every round.
  for ((i = 0; i <= runs; i++)); do
    for tool in "${tools[@]}"; do
      if ((i == 0)); then "run_$tool" "$payload" >/dev/null
      else "run_$tool" "$payload" >> "$work/samples-$tool"; fi
    done
  done
  declare -A ms=() rss=()
  for tool in "${tools[@]}"; do
    ms[$tool]=$(cut -d' ' -f1 "$work/samples-$tool" | median)
    rss[$tool]=$(cut -d' ' -f2 "$work/samples-$tool" | sort -n | tail -n 1)
  done
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
  echo "| $payload | ${ms[floor]} | ${ms[floor-small]} | ${ms[bsdtar]} | ${ms[unzip]} | ${ms[makeself]} | ${ms[launcher]} | $(ratio "${ms[launcher]}" "${ms[bsdtar]}") | $(ratio "${ms[launcher]}" "${ms[floor]}") |" >> "$results"
  rss_table+=("| $payload | ${rss[floor]} | ${rss[floor-small]} | ${rss[bsdtar]} | ${rss[unzip]} | ${rss[makeself]} | ${rss[launcher]} |")
  [ -n "${BASELINE:-}" ] && echo "Baseline launcher, $payload: median ${ms[baseline]} ms, peak RSS ${rss[baseline]} KiB." >> "$work/baseline.md"
  unset ms rss
done
{
  echo
  echo "Peak RSS, KiB (largest of the runs):"
  printf '%s\n' "${rss_table[@]}"
  echo
  [ -f "$work/baseline.md" ] && cat "$work/baseline.md" && echo
  echo "$runs runs per case after one warm-up round, tools in turn; unpacked on $(df --output=fstype "$scratch" | tail -n 1); $(nproc) cores; $(uname -r); load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
} >> "$results"

# The launcher's peak RSS must not grow with the payload.
if [ -n "$rss_sizes" ]; then
  {
    echo
    echo "Launcher peak RSS by payload size (large shape):"
    echo "| payload MB | installer bytes | peak RSS KiB |"
    echo "|---:|---:|---:|"
  } >> "$results"
  for mb in $rss_sizes; do
    large_tree "$mb" "$work/tree-scale"
    pack_zip "$work/tree-scale" "$work/jre-files" "$work/scale.zip"
    rm -rf "$work/tree-scale"
    cat "$stub" "$work/scale.zip" > "$work/scale.launcher"
    rm -f "$work/scale.zip"
    chmod 755 "$work/scale.launcher"
    kib=$(measure "$work/scale.launcher" -silent "$work/answers" -tmpdir "$scratch" | cut -d' ' -f2)
    echo "| $mb | $(stat -c %s "$work/scale.launcher") | $kib |" >> "$results"
    rm -f "$work/scale.launcher"
  done
fi
cat "$results"
