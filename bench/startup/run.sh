#!/usr/bin/env bash
# Start-up benchmark: how long from starting an installer until its program starts, and the
# peak resident size, for the launcher, Info-ZIP unzipsfx (the same zip appended to it) and
# a makeself archive of the same tree, on two payloads:
#   runtime: the demo payload with a jlink-made Java runtime bundled under package/jre
#   files:   20,000 small files in 200 directories, with a minimal runtime stand-in
# Every tool starts the same program: the runtime's bin/java is replaced by a stand-in shell
# script that writes the time it started, since the launcher holds for 10 seconds after
# starting Java by design and only the way to the program's start is compared.
# Usage: bench/startup/run.sh [runs per case, default 5]. Medians go to stdout and to
# $BUILD/bench-startup/results.md (BUILD defaults to build-release). STUB=FILE measures
# another launcher binary (a variant build) in place of $BUILD/launcher. EXTRACT_DIR=DIR
# makes every tool unpack under DIR: by default a tmpfs (/dev/shm) when there is one, since
# on a disk file creation and the writeback of earlier runs drown the differences.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build-release}
runs=${1:-5}
work="$build/bench-startup"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target launcher mkinstaller demo_payload >/dev/null 2>&1
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

stub=${STUB:-$build/launcher}
stub_size=$(stat -c %s "$stub")
for payload in runtime files; do
  SOURCE_DATE_EPOCH=0 "$build/mkinstaller" --launcher "$stub" --jre "$work/jre-$payload" \
    -o "$work/$payload.launcher" "$work/tree-$payload" >/dev/null
  tail -c +$((stub_size + 1)) "$work/$payload.launcher" > "$work/$payload.zip"
  cat /usr/bin/unzipsfx "$work/$payload.zip" > "$work/$payload.sfx"
  zip -A -q "$work/$payload.sfx"
  chmod 755 "$work/$payload.sfx"
  mkdir "$work/unpacked-$payload"
  unzip -q "$work/$payload.zip" -d "$work/unpacked-$payload"
  makeself --quiet --nox11 "$work/unpacked-$payload" "$work/$payload.run" "bench $payload" \
    ./package/jre/bin/java >/dev/null
  rm -rf "$work/unpacked-$payload"
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
run_unzipsfx() {
  local dir="$scratch/sfx"
  measure sh -c '"$0" -qq -d "$1" && cd "$1" && exec ./package/jre/bin/java' \
    "$work/$1.sfx" "$dir"
  rm -rf "$dir"
}
run_makeself() {
  TMPDIR="$scratch" measure "$work/$1.run" --quiet --nox11
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results="$work/results.md"
targets=()
{
  echo "| payload | tool | to program start, median ms | min ms | peak RSS KiB | time vs launcher |"
  echo "|---|---|---|---|---|---|"
} > "$results"
for payload in runtime files; do
  declare -A ms=()
  for tool in launcher unzipsfx makeself; do
    "run_$tool" "$payload" >/dev/null  # warm the page cache
    : > "$work/samples"
    for ((i = 0; i < runs; i++)); do "run_$tool" "$payload" >> "$work/samples"; done
    ms[$tool]=$(cut -d' ' -f1 "$work/samples" | median)
    min=$(cut -d' ' -f1 "$work/samples" | sort -n | head -n 1)
    rss=$(cut -d' ' -f2 "$work/samples" | sort -n | tail -n 1)
    ratio=$(awk -v a="${ms[$tool]}" -v b="${ms[launcher]}" 'BEGIN { printf "%.2fx", a / b }')
    echo "| $payload | $tool | ${ms[$tool]} | $min | $rss | $ratio |" >> "$results"
    [ "$tool" = launcher ] && launcher_rss=$rss
  done
  verdict=$(awk -v l="${ms[launcher]}" -v u="${ms[unzipsfx]}" -v m="${ms[makeself]}" \
    -v r="$launcher_rss" 'BEGIN { print (l < u && l < m ? "faster than both" : "NOT faster than both") \
      ", peak RSS " (r < 4096 ? "under" : "NOT under") " 4 MiB" }')
  targets+=("$payload: launcher $verdict")
  unset ms
done
size() { stat -c %s "$1"; }
{
  echo
  echo "Installer sizes in bytes: runtime: launcher $(size "$work/runtime.launcher"), unzipsfx $(size "$work/runtime.sfx"), makeself $(size "$work/runtime.run"); files: launcher $(size "$work/files.launcher"), unzipsfx $(size "$work/files.sfx"), makeself $(size "$work/files.run")."
  echo "$runs runs per case after one warm-up run; unpacked on $(df --output=fstype "$scratch" | tail -n 1); $(nproc) cores; $(uname -r)."
  echo
  printf 'Target: %s.\n' "${targets[@]}"
} >> "$results"
cat "$results"
