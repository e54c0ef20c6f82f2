#!/usr/bin/env bash
# Makes a 256 MiB file of pseudo-random bytes in a folder of its own, digests it with
# md5_bench.exe and, as the floor, with openssl (medians of 3 each), checks that the two
# digests agree and prints both rates and their ratio. Usage: md5_bench.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/md5_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/random.bin"
openssl rand -out "$file" $((256 << 20))
figures=$(wine "$build/bin/md5_bench.exe" "$(winepath -w "$file")")
python3 - "$file" "$figures" <<'PY'
import subprocess, sys, time
path, figures = sys.argv[1], sys.argv[2]
lines = [line for line in figures.splitlines() if line]
for line in lines:
    if line.startswith("#"):
        print("  " + line)
values = dict(line.split(" ", 1) for line in lines if not line.startswith("#"))
size = 256
rates, digest = [], None
for _ in range(3):
    start = time.perf_counter()
    out = subprocess.run(["openssl", "dgst", "-md5", "-r", path], check=True, capture_output=True, text=True).stdout
    rates.append(size / (time.perf_counter() - start))
    digest = out.split()[0]
ours, floor = float(values["md5"]), sorted(rates)[1]
print("  md5 %.1f MiB/s, openssl %.1f MiB/s, md5 / openssl = %.2f" % (ours, floor, ours / floor))
same = values["digest"] == digest
print("  digests %s: %s%s" % ("equal" if same else "DIFFER", values["digest"], "" if same else " openssl " + digest))
sys.exit(0 if same else 1)
PY
