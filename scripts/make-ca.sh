#!/usr/bin/env bash
# Makes a private CA and a "localhost" server certificate signed by it, for the
# service on loopback. The Wine side imports ca.der into its own Root store, so
# the host's trust store is never touched.
#
#   scripts/make-ca.sh OUTDIR
#
# OUTDIR gets: ca.key ca.pem ca.der server.key server.pem
# Running it again does nothing while those files are present and still valid
# (a new CA would force every Wine prefix to import it again).
set -euo pipefail

if [ $# -ne 1 ] || [ "$1" = "-h" ] || [ "$1" = "--help" ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Parallel builds may run this at the same moment for the same folder.
exec 9>"$out/.make-ca.lock"
if command -v flock >/dev/null 2>&1; then flock 9; fi

valid() {
  local f
  for f in ca.key ca.pem ca.der server.key server.pem; do
    [ -s "$out/$f" ] || return 1
  done
  # Chain, expiry (a day of margin), names, key pair and the DER copy.
  openssl verify -CAfile "$out/ca.pem" "$out/server.pem" >/dev/null 2>&1 || return 1
  openssl x509 -in "$out/server.pem" -noout -checkend 86400 >/dev/null 2>&1 || return 1
  openssl x509 -in "$out/ca.pem" -noout -checkend 86400 >/dev/null 2>&1 || return 1
  openssl x509 -in "$out/server.pem" -noout -ext subjectAltName 2>/dev/null \
    | grep -q 'DNS:localhost' || return 1
  openssl x509 -in "$out/server.pem" -noout -ext subjectAltName 2>/dev/null \
    | grep -q 'IP Address:127.0.0.1' || return 1
  # The event tests' misbehaving peer listens on a second loopback address.
  # Wine's WinHTTP matches the host against DNS names only, so that address
  # is listed as a name too.
  openssl x509 -in "$out/server.pem" -noout -ext subjectAltName 2>/dev/null \
    | grep -q 'DNS:127.0.0.2' || return 1
  [ "$(openssl x509 -in "$out/server.pem" -noout -pubkey 2>/dev/null)" = \
    "$(openssl pkey -in "$out/server.key" -pubout 2>/dev/null)" ] || return 1
  [ "$(openssl x509 -in "$out/ca.der" -inform DER -outform PEM 2>/dev/null)" = \
    "$(openssl x509 -in "$out/ca.pem" -outform PEM 2>/dev/null)" ] || return 1
  return 0
}

if valid; then
  exit 0
fi

tmp=$(mktemp -d "$out/.make-ca.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
umask 077

# RSA keeps the older TLS stacks (Wine's secure channel, Windows 7) happy.
openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -keyout "$tmp/ca.key" -out "$tmp/ca.pem" \
  -subj "/O=Tamsel Test/CN=Tamsel Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "subjectKeyIdentifier=hash" 2>/dev/null
openssl x509 -in "$tmp/ca.pem" -outform DER -out "$tmp/ca.der"

openssl req -new -newkey rsa:2048 -nodes -sha256 \
  -keyout "$tmp/server.key" -out "$tmp/server.csr" \
  -subj "/O=Tamsel Test/CN=localhost" 2>/dev/null
cat >"$tmp/server.ext" <<'EOF'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.2,IP:127.0.0.2
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EOF
# 825 days: the longest validity current Windows and browsers accept.
openssl x509 -req -in "$tmp/server.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" \
  -set_serial "0x$(openssl rand -hex 16)" -days 825 -sha256 \
  -extfile "$tmp/server.ext" -out "$tmp/server.pem" 2>/dev/null

chmod 600 "$tmp/ca.key" "$tmp/server.key"
chmod 644 "$tmp/ca.pem" "$tmp/ca.der" "$tmp/server.pem"
for f in ca.key ca.pem ca.der server.key server.pem; do
  mv -f "$tmp/$f" "$out/$f"
done
echo "made a CA and a localhost certificate in $out"
