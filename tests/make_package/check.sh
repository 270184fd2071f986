#!/bin/sh
# scripts/make-package signs with the maker's identity: check.sh <root> <work>
# - the PKCS#12 file of make-pki.sh and its password: verifies up to the
#   development root, signed by pair 1; a wrong password leaves no package;
# - files, timestamped by an RFC 3161 authority at a URL (tsa_server.py).
set -eu
root=$1 work=$2
rm -rf "$work"
mkdir -p "$work/files"
fail() { echo "FAIL: $*" >&2; exit 1; }
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true' EXIT
pki="$root/pki"
echo "a file of the package" >"$work/files/note.txt"
printf 'kitloader' >"$work/password"; printf 'wrong' >"$work/wrong"

"$root/scripts/make-package" "$work/files" "$work/p12.cab" --pkcs12 "$pki/signers/signer01.p12" \
  --password-file "$work/password" >/dev/null
osslsigncode verify -CAfile "$pki/ca/root.crt" -in "$work/p12.cab" >"$work/p12.txt" 2>&1 ||
  { cat "$work/p12.txt" >&2; fail "the PKCS#12 signature does not verify"; }
want=$(openssl x509 -in "$pki/signers/signer01.crt" -noout -serial | cut -d= -f2)
grep -q "Serial : $want" "$work/p12.txt" || fail "not signed by pair 1 ($want)"
if "$root/scripts/make-package" "$work/files" "$work/bad.cab" --pkcs12 "$pki/signers/signer01.p12" \
     --password-file "$work/wrong" >/dev/null 2>&1; then
  fail "signed with a wrong password"
fi
[ ! -e "$work/bad.cab" ] && [ ! -e "$work/bad.cab.unsigned" ] || fail "a wrong password left a package behind"

python3 "$(dirname "$0")/tsa_server.py" "$pki" "$work" &
server=$!
tries=0
while [ ! -s "$work/port" ]; do
  tries=$((tries + 1)); [ "$tries" -le 300 ] || fail "the time-stamping authority did not start"
  sleep 0.1
done
"$root/scripts/make-package" "$work/files" "$work/stamped.cab" --cert "$pki/signers/signer05.chain.pem" \
  --key "$pki/signers/signer05.key" --timestamp "http://127.0.0.1:$(cat "$work/port")/" >/dev/null
osslsigncode verify -CAfile "$pki/ca/root.crt" -TSA-CAfile "$pki/ca/root.crt" -in "$work/stamped.cab" \
  >"$work/stamped.txt" 2>&1 || { cat "$work/stamped.txt" >&2; fail "the timestamped signature does not verify"; }
grep -q "Timestamp Server Signature verification: ok" "$work/stamped.txt" || fail "no verified timestamp"
echo "make-package: PKCS#12 with its password, files with an RFC 3161 timestamp"
