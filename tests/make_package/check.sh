#!/bin/sh
# scripts/make-package signs with the maker's identity: check.sh <root> <work>
# - the PKCS#12 file of make-pki.sh and its password: verifies up to the
#   development root, signed by pair 1; a wrong password leaves no package;
# - pair 5's key in a SoftHSM token, its PIN from a file;
# - files, timestamped by an RFC 3161 authority at a URL (tsa_server.py);
# - and refuses, leaving no package: a cabinet not named as its INF, an INF
#   whose FileVersion or clsid the control does not carry, a setup.inf line
#   that names another version, the maker's identity without a timestamp.
# The package is the build's sample control (ombrixctl.inf and .dll 1.0.0.1).
set -eu
root=$1 work=$2
rm -rf "$work"
mkdir -p "$work/files" "$work/out"
fail() { echo "FAIL: $*" >&2; exit 1; }
server=""
trap '[ -z "$server" ] || kill "$server" 2>/dev/null || true' EXIT
pki="$root/pki"
cp "$(dirname "$work")/suite/ombrixctl-1.0.0.1/ombrixctl.inf" "$(dirname "$work")/suite/ombrixctl-1.0.0.1/ombrixctl.dll" \
  "$work/files/"
printf 'kitloader' >"$work/password"; printf 'wrong' >"$work/wrong"
printf '[CabFiles]\nombrixctl.cab=1\n[ombrixctl.cab]\nCLSID={5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}\nFileVersion=1,0,0,9\n' \
  >"$work/setup.inf"

# Refused: <case>|<what replaces in the INF>|<arguments after the folder>|<message>
while IFS='|' read -r case edit arguments message; do
  rm -rf "$work/bad" && cp -r "$work/files" "$work/bad" && mkdir -p "$work/$case"
  [ -z "$edit" ] || sed -i "$edit" "$work/bad/ombrixctl.inf"
  # shellcheck disable=SC2086
  if "$root/scripts/make-package" "$work/bad" $(eval echo "$arguments") >/dev/null 2>"$work/$case/err"; then
    fail "$case: make-package accepted it"
  fi
  grep -q "$message" "$work/$case/err" || { cat "$work/$case/err" >&2; fail "$case: not refused with '$message'"; }
  [ -z "$(find "$work/$case" -name '*.cab*')" ] || fail "$case: a package was left behind"
done <<'ROWS'
name||$work/name/other.cab|must be named as its INF
version|s/^FileVersion=.*/FileVersion=1,0,0,2/|$work/version/ombrixctl.cab|version resource says 1,0,0,1
setup||$work/setup/ombrixctl.cab --setup-inf $work/setup.inf|fileversion=1,0,0,9, but ombrixctl.inf says 1,0,0,1
class|s/^clsid=.*/clsid={6E0F3A2B-91C4-4D7E-B5A8-3C2D1E0F9A87}/|$work/class/ombrixctl.cab|does not carry
nostamp||$work/nostamp/ombrixctl.cab --pkcs12 $pki/signers/signer01.p12 --password-file $work/password|give --timestamp
ROWS

mkdir -p "$work/p12" "$work/bad12" "$work/token" "$work/stamped"
"$root/scripts/make-package" "$work/files" "$work/p12/ombrixctl.cab" --pkcs12 "$pki/signers/signer01.p12" \
  --password-file "$work/password" --no-timestamp >/dev/null
osslsigncode verify -CAfile "$pki/ca/root.crt" -in "$work/p12/ombrixctl.cab" >"$work/p12.txt" 2>&1 ||
  { cat "$work/p12.txt" >&2; fail "the PKCS#12 signature does not verify"; }
want=$(openssl x509 -in "$pki/signers/signer01.crt" -noout -serial | cut -d= -f2)
grep -q "Serial : $want" "$work/p12.txt" || fail "not signed by pair 1 ($want)"
if "$root/scripts/make-package" "$work/files" "$work/bad12/ombrixctl.cab" --pkcs12 "$pki/signers/signer01.p12" \
     --password-file "$work/wrong" --no-timestamp >/dev/null 2>&1; then
  fail "signed with a wrong password"
fi
[ -z "$(ls "$work/bad12")" ] || fail "a wrong password left a package behind"

mkdir -p "$work/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/tokens" >"$work/softhsm2.conf"
export SOFTHSM2_CONF="$work/softhsm2.conf"
softhsm2-util --init-token --free --label kit --pin 1234 --so-pin 4321 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in "$pki/signers/signer05.key" -out "$work/token-key.pem"
softhsm2-util --import "$work/token-key.pem" --token kit --label signer --id 05 --pin 1234 >/dev/null
printf '1234' >"$work/pin"
"$root/scripts/make-package" "$work/files" "$work/token/ombrixctl.cab" --pkcs11-module /usr/lib/softhsm/libsofthsm2.so \
  --key 'pkcs11:token=kit;object=signer;type=private' --cert "$pki/signers/signer05.chain.pem" \
  --password-file "$work/pin" --no-timestamp >/dev/null
osslsigncode verify -CAfile "$pki/ca/root.crt" -in "$work/token/ombrixctl.cab" >"$work/token.txt" 2>&1 &&
  grep -q "Serial : $(openssl x509 -in "$pki/signers/signer05.crt" -noout -serial | cut -d= -f2)" "$work/token.txt" ||
  { cat "$work/token.txt" >&2; fail "not signed through the token with pair 5"; }

python3 "$(dirname "$0")/tsa_server.py" "$pki" "$work" &
server=$!
tries=0
while [ ! -s "$work/port" ]; do
  tries=$((tries + 1)); [ "$tries" -le 300 ] || fail "the time-stamping authority did not start"
  sleep 0.1
done
"$root/scripts/make-package" "$work/files" "$work/stamped/ombrixctl.cab" --cert "$pki/signers/signer05.chain.pem" \
  --key "$pki/signers/signer05.key" --timestamp "http://127.0.0.1:$(cat "$work/port")/" >/dev/null
osslsigncode verify -CAfile "$pki/ca/root.crt" -TSA-CAfile "$pki/ca/root.crt" -in "$work/stamped/ombrixctl.cab" \
  >"$work/stamped.txt" 2>&1 || { cat "$work/stamped.txt" >&2; fail "the timestamped signature does not verify"; }
grep -q "Timestamp Server Signature verification: ok" "$work/stamped.txt" || fail "no verified timestamp"
echo "make-package: PKCS#12 with its password, a PKCS#11 token, files with an RFC 3161 timestamp; 5 mistakes refused"
