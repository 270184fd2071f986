#!/bin/sh
# Starts or stops the tests' HTTP(S) server (http_test_server.py) for a CTest
# fixture. Usage: http_test_server.sh start|stop <folder>
# start: makes a test CA, a certificate it signed and a self-signed one for
# 127.0.0.1 (once per folder), starts the server in the background on free
# ports of 127.0.0.1 and waits until <folder>/ports lists them.
# stop: ends the server this folder's pid file names.
set -eu
action="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$2"
dir="$(cd "$2" && pwd)"
cd "$dir"

if [ "$action" = stop ]; then
  if [ -f pid ]; then
    kill "$(cat pid)" 2>/dev/null || true
    rm -f pid
  fi
  rm -f ports
  exit 0
fi

if [ ! -f trusted.crt ]; then
  cat > leaf.cnf <<'CNF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = 127.0.0.1
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:127.0.0.1,IP:127.0.0.1
CNF
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 3650 -sha256 \
    -subj "/CN=kitloader test transfer CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -new -newkey rsa:2048 -nodes -keyout trusted.key -out trusted.csr -config leaf.cnf 2>/dev/null
  openssl x509 -req -in trusted.csr -CA ca.crt -CAkey ca.key -set_serial 0x1001 -days 3650 -sha256 \
    -extfile leaf.cnf -extensions leaf -out trusted.crt 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -keyout untrusted.key -out untrusted.crt -days 3650 -sha256 \
    -config leaf.cnf -extensions leaf 2>/dev/null
  openssl x509 -in ca.crt -outform der -out ca.der
fi

if [ -f pid ] && kill -0 "$(cat pid)" 2>/dev/null; then
  kill "$(cat pid)" 2>/dev/null || true
fi
rm -f ports
setsid /usr/bin/python3 "$here/http_test_server.py" --port-file "$dir/ports" --certs "$dir" --lifetime 1800 \
  </dev/null >server.log 2>&1 &
echo $! > pid
i=0
while [ ! -s ports ]; do
  i=$((i + 1))
  if [ $i -gt 100 ]; then
    echo "http_test_server: no ports after 10 s" >&2
    cat server.log >&2
    exit 1
  fi
  sleep 0.1
done
cat ports
