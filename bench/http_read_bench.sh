#!/usr/bin/env bash
# Runs under tools/httppeer.py: the Windows reader's two figures, then curl on the same
# address, then the ratios. Usage: http_read_bench.sh BUILD_DIR
set -euo pipefail
build=$1
url="http://127.0.0.1:$TAVRIN_HTTP_PORT/data/67108864"
figures=$(wine "$build/bin/http_read_bench.exe")
echo "$figures" | sed 's/^/  /; s/$/ MiB\/s/'
curl_rates=()
for _ in 1 2 3; do
  curl_rates+=("$(curl -s -o /dev/null -w '%{speed_download}' "$url")")
done
python3 - "$figures" "${curl_rates[@]}" <<'PY'
import sys
figures = dict(line.rsplit(" ", 1) for line in sys.argv[1].splitlines() if line and not line.startswith("#"))
curl = sorted(float(r) / 1048576 for r in sys.argv[2:])[1]
qv, wininet, small = (float(figures[k]) for k in ("qv::file", "wininet", "wininet_1500"))
ratio = lambda a, b: a / b if b else 0
print("  curl %.1f MiB/s" % curl)
print("  qv::file / wininet = %.2f, qv::file / wininet_1500 = %.2f, qv::file / curl = %.3f, wininet / curl = %.2f"
      % (ratio(qv, wininet), ratio(qv, small), ratio(qv, curl), ratio(wininet, curl)))
PY
