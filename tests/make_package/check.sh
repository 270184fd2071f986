#!/bin/sh
# scripts/make-package signs with the maker's identity: check.sh <root> <work>
# - the PKCS#12 file of make-pki.sh and its password: verifies up to the
#   development root, signed by pair 1; a wrong password leaves no package;
# - pair 5's key in a SoftHSM token, its PIN from a file;
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

mkdir -p "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/tokens" >"$work/softhsm2.conf"
export SOFTHSM2_CONF="$work/softhsm2.conf"
softhsm2-util --init-token --free --label kit --pin 1234 --so-pin 4321 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$pki/signers/signer05.key" -out "$work/token-key.pem"
softhsm2-util --import "$work/token-key.pem" --token kit --label signer --id 05 --pin 1234 >/dev/null
printf '1234' >"$work/pin"
"$root/scripts/make-package" "$work/files" "$work/token.cab" --pkcs11-module /usr/lib/softhsm/libsofthsm2.so \
  --key 'pkcs11:token=kit;object=signer;type=private' --cert "$pki/signers/signer05.chain.pem" \
  --password-file "$work/pin" >/dev/null
osslsigncode verify -CAfile "$pki/ca/root.crt" -in "$work/token.cab" >"$work/token.txt" 2>&1 &&
  grep -q "Serial : $(openssl x509 -in "$pki/signers/signer05.crt" -noout -serial | cut -d= -f2)" "$work/token.txt" ||
  { cat "$work/token.txt" >&2; fail "not signed through the token with pair 5"; }

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
echo "make-package: PKCS#12 with its password, a PKCS#11 token, files with an RFC 3161 timestamp"
