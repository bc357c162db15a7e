#!/usr/bin/env bash
# Times payload extraction (UnzipFiles through unzip_bench) against `unzip -qo` and
# `bsdtar -xf` on two archives, one of many small files and one of a large compressible
# entry, and checks that peak memory stays flat as the entry size grows.
#
# Usage: bench/archive_bench.sh [BUILD_DIR]   (default: build-bench, configured Release)
# Environment: SMALL_FILES (5000), LARGE_MB (200), SCALE_MB ("10 100 400"), RUNS (5),
#              BENCH_DIR (default: a scratch directory in /dev/shm when it is there, else in
#              /var/tmp; on a disk, file creation cost and writeback make timings noisy).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-bench}
small_files=${SMALL_FILES:-5000}
large_mb=${LARGE_MB:-200}
scale_mb=${SCALE_MB:-"10 100 400"}
runs=${RUNS:-5}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if ! log=$(cmake --build "$build" -j "$(nproc)" --target unzip_bench 2>&1); then
  echo "$log"
  exit 1
fi
ours=$(find "$root/$build" -name unzip_bench -type f -perm -u+x | head -n 1)

base=/var/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "${BENCH_DIR:-$base}/archive-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Log-like text: compresses about 4:1 with zip's default level, like class files and jars.
compressible() {  # MEGABYTES FILE
  local bytes=$(( $1 * 1024 * 1024 ))
  # head ends the pipe early on purpose; the size check below catches a real failure.
  seq 1 100000000 |
    awk '{ printf "%08d entry %s checksum %d\n", $1, ($1 % 7 ? "ok" : "retry"), ($1 * 7919) % 1000003 }' |
    head -c "$bytes" > "$2" || true
  [ "$(stat -c %s "$2")" -eq "$bytes" ]
}

echo "== preparing archives in $work"
mkdir -p small-src large-src
python3 - "$small_files" <<'EOF'
import os, random, sys
random.seed(7)
count = int(sys.argv[1])
for i in range(count):
    d = "small-src/pkg%02d/sub%02d" % (i % 40, i % 13)
    os.makedirs(d, exist_ok=True)
    size = random.randint(100, 8000)
    line = ("class%05d field value %d\n" % (i, random.randint(0, 10**6))).encode()
    with open("%s/file%05d.txt" % (d, i), "wb") as f:
        f.write((line * (size // len(line) + 1))[:size])
EOF
compressible "$large_mb" large-src/payload.dat
(cd small-src && zip -qr ../small.zip .)
(cd large-src && zip -q ../large.zip payload.dat)
ls -l small.zip large.zip | awk '{ print "   " $9 ": " $5 " bytes" }'

# The timings mean nothing unless the trees are the same as unzip's.
for archive in small.zip large.zip; do
  rm -rf ours-out unzip-out
  "$ours" "$archive" ours-out
  unzip -qo "$archive" -d unzip-out
  diff -r ours-out unzip-out >/dev/null || { echo "$archive: trees differ"; exit 1; }
done
rm -rf ours-out unzip-out

commands() {  # ARCHIVE
  printf '%s\n' "$ours $1 out" "unzip -qo $1 -d out" "bsdtar -xf $1 -C out"
}

# Mean seconds of each command, then ratios against UnzipFiles.
compare() {  # LABEL ARCHIVE
  local label=$1 archive=$2
  mapfile -t cmds < <(commands "$archive")
  echo "== $label: hyperfine, $runs runs each"
  hyperfine --style basic --warmup 1 --runs "$runs" --prepare 'rm -rf out && mkdir out' \
    --export-json "$label.json" -n UnzipFiles "${cmds[0]}" -n "unzip -qo" "${cmds[1]}" \
    -n "bsdtar -xf" "${cmds[2]}" >/dev/null
  python3 - "$label.json" <<'EOF'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
ours = results["UnzipFiles"]["mean"]
for name, r in results.items():
    print("   %-11s %8.3f s +- %.3f   %5.2fx of UnzipFiles time"
          % (name, r["mean"], r["stddev"], r["mean"] / ours))
EOF
}

peak_kb() {  # COMMAND...
  rm -rf out && mkdir out
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

peaks() {  # LABEL ARCHIVE
  local archive=$2
  printf '   %-22s UnzipFiles %7s KB   unzip %7s KB   bsdtar %7s KB\n' "$1" \
    "$(peak_kb "$ours" "$archive" out)" "$(peak_kb unzip -qo "$archive" -d out)" \
    "$(peak_kb bsdtar -xf "$archive" -C out)"
}

compare "small-files-$small_files" small.zip
compare "large-entry-${large_mb}MB" large.zip

echo "== peak RSS (/usr/bin/time %M)"
peaks "$small_files small files" small.zip
peaks "${large_mb} MB entry" large.zip
rm -rf large-src large.zip
for mb in $scale_mb; do
  mkdir -p scale && compressible "$mb" scale/payload.dat
  (cd scale && zip -q ../scale.zip payload.dat)
  peaks "$mb MB entry" scale.zip
  rm -rf scale scale.zip out
done
