#!/usr/bin/env bash
# Times a GET of a 10 MB and a 100 MB file from nginx over loopback through
# HTTPConnection (bench/net/HTTPGetTool.cpp) against `curl -s -o` of the same
# URL, over HTTP and HTTPS (curl --cacert with the same certificate). Best of
# five runs each; prints both times and the ratio.
#   bench/net/get.sh [build folder, default build/release]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
. bench/common.sh
. bench/net/peers.sh
start_net_bench "$build" http_get_tool net-bench
start_nginx

for size in 10 100; do
  for scheme in http https; do
    p=$port
    [ "$scheme" = https ] && p=$sslport
    url="$scheme://127.0.0.1:$p/f$size"
    ours=$(best "$tool" "$scheme" 127.0.0.1 "$p" "/f$size" "$work/ours" "$work/server.pem")
    cmp -s "$work/ours" "$work/www/f$size" || { echo "GET through HTTPConnection gave other bytes" >&2; exit 1; }
    theirs=$(best curl -s --cacert "$work/server.pem" -o "$work/theirs" "$url")
    echo "GET $size MB over $scheme: HTTPConnection ${ours}s, curl ${theirs}s"
    print_ratio "GET $size MB over $scheme (HTTPConnection)" "curl -s -o" "$ours" "$theirs"
  done
done
