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
ensure_built "$build" http_get_tool
build=$(cd "$build" && pwd)
tool=$build/bench/http_get_tool
need_tool curl curl
[ -x /usr/sbin/nginx ] || { echo "nginx is missing (scripts/setup installs it)" >&2; exit 1; }
runs=5

make_work net-bench
work=$(cd "$work" && pwd)
mkdir -p "$work/www"
head -c 10000000 /dev/urandom >"$work/www/f10"
head -c 100000000 /dev/urandom >"$work/www/f100"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/server.key" -out "$work/server.pem" 2>/dev/null

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
sslport=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/body; proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi; uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    listen 127.0.0.1:$sslport ssl;
    ssl_certificate $work/server.pem; ssl_certificate_key $work/server.key;
    root $work/www;
  }
}
CONF
/usr/sbin/nginx -e "$work/error.log" -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
trap 'kill $nginx_pid 2>/dev/null; wait $nginx_pid 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
for _ in $(seq 200); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.05
done

for size in 10 100; do
  for scheme in http https; do
    p=$port
    [ "$scheme" = https ] && p=$sslport
    url="$scheme://127.0.0.1:$p/f$size"
    ours=$(best "$tool" "$scheme" 127.0.0.1 "$p" "/f$size" "$work/ours" "$work/server.pem")
    cmp -s "$work/ours" "$work/www/f$size" || { echo "GET through HTTPConnection gave other bytes" >&2; exit 1; }
    theirs=$(best curl -s --cacert "$work/server.pem" -o "$work/theirs" "$url")
    echo "GET $size MB over $scheme: HTTPConnection ${ours}s, curl ${theirs}s"
    printf 'RATIO\tGET %s MB over %s (HTTPConnection)\tcurl -s -o\t%s\n' "$size" "$scheme" "$(ratio "$theirs" "$ours")"
  done
done
