#!/bin/sh
# Regenerates the development signing identity of this project: a root CA,
# the code-signing CAs whose names the trust decision accepts, the ten pinned
# code-signing certificates, the certificates that must be refused and a
# time-stamping authority. Every key here is a test key.
#
#   pki/make-pki.sh            (writes into the folder of this script)
#
# Slow (two 4096-bit keys); run it by hand, never from the build.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
rm -rf ca signers others tsa
mkdir -p ca signers others tsa
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/ext.cnf" <<'CNF'
[req]
distinguished_name = dn
prompt = no
[dn]
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid,issuer
[v3_signer]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid,issuer
[v3_tsa]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid,issuer
CNF

key() { openssl genrsa -out "$1" "$2" 2>/dev/null; }

# A serial number of exactly $1 bytes whose first byte is below 0x80 and not
# zero, so its DER encoding needs no leading zero byte.
serial() {
  hex=$(openssl rand -hex "$1")
  first=$(printf '%02X' $(( (0x$(echo "$hex" | cut -c1-2) % 0x6F) + 0x10 )))
  echo "$first$(echo "$hex" | cut -c3-)"
}

# cert <out> <key> <subject CN> <issuer crt|-> <issuer key> <extension> <serial hex> [days] [startdate enddate]
cert() {
  out=$1 k=$2 cn=$3 icrt=$4 ikey=$5 ext=$6 ser=$7
  openssl req -new -key "$k" -subj "/O=kitloader development/CN=$cn" -out "$work/req.csr" -config "$work/ext.cnf"
  if [ "$icrt" = "-" ]; then
    openssl x509 -req -in "$work/req.csr" -signkey "$k" -set_serial "0x$ser" -days 7300 -sha256 \
      -extfile "$work/ext.cnf" -extensions "$ext" -out "$out" 2>/dev/null
  elif [ $# -ge 9 ]; then
    # A certificate valid only in the past: openssl ca sets explicit dates.
    mkdir -p "$work/ca"; : > "$work/ca/index.txt"
    cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = dev
[dev]
database = $work/ca/index.txt
new_certs_dir = $work/ca
serial = $work/ca/serial
default_md = sha256
policy = any
unique_subject = no
[any]
organizationName = optional
commonName = supplied
CNF
    echo "$ser" > "$work/ca/serial"
    openssl ca -batch -config "$work/ca.cnf" -cert "$icrt" -keyfile "$ikey" -in "$work/req.csr" \
      -startdate "$8" -enddate "$9" -extfile "$work/ext.cnf" -extensions "$ext" -out "$work/out.pem" -notext
    openssl x509 -in "$work/out.pem" -out "$out"
  else
    openssl x509 -req -in "$work/req.csr" -CA "$icrt" -CAkey "$ikey" -set_serial "0x$ser" -days 7300 -sha256 \
      -extfile "$work/ext.cnf" -extensions "$ext" -out "$out" 2>/dev/null
  fi
}

key ca/root.key 2048
cert ca/root.crt ca/root.key "Kitloader Development Root CA" - - v3_ca "$(serial 16)"

# The issuing CAs carry the issuer names that the trust decision accepts.
i=0
for name in "Entrust Extended Validation Code Signing CA - EVCS2" "Entrust Code Signing CA - OVCS1" \
            "Thawte Code Signing CA" "Thawte Code Signing CA - G2"; do
  i=$((i + 1))
  key "ca/issuer$i.key" 2048
  cert "ca/issuer$i.crt" "ca/issuer$i.key" "$name" ca/root.crt ca/root.key v3_ca "$(serial 16)"
done

# The ten pinned signers, in table order: serial length, key size, subject, issuing CA.
# Pairs 1 and 5 sign the Installer Service.
n=0
while read -r len bits subject issuer; do
  n=$((n + 1))
  id=$(printf '%02d' "$n")
  key "signers/signer$id.key" "$bits"
  cert "signers/signer$id.crt" "signers/signer$id.key" "$(echo "$subject" | tr _ ' ')" \
    "ca/issuer$issuer.crt" "ca/issuer$issuer.key" v3_signer "$(serial "$len")"
  cat "signers/signer$id.crt" "ca/issuer$issuer.crt" ca/root.crt > "signers/signer$id.chain.pem"
done <<'LIST'
16 4096 Norvane,_Inc. 1
16 4096 Norvane_Networks_Inc 2
17 2048 Norvane_Networks 3
3 2048 Norvane_Networks 4
16 2048 Norvane,_Inc. 2
16 2048 Norvane_Networks_Inc 1
16 2048 Norvane_Networks 4
16 2048 Norvane,_Inc. 1
17 2048 Norvane_Networks 3
16 2048 Norvane_Networks_Inc 2
LIST

# Pair 1 in a PKCS#12 file (password "kitloader"), for scripts/make-package --pkcs12.
openssl pkcs12 -export -in signers/signer01.chain.pem -inkey signers/signer01.key -name "signer01" \
  -passout pass:kitloader -out signers/signer01.p12

serial_of() { openssl x509 -in "$1" -noout -serial | cut -d= -f2; }

# Accepted names, serial number not pinned.
key others/unpinned.key 2048
cert others/unpinned.crt others/unpinned.key "Norvane Networks" ca/issuer3.crt ca/issuer3.key v3_signer "$(serial 16)"
# Pair 7's serial number with pair 6's key.
cp signers/signer06.key others/swapped.key
cert others/swapped.crt others/swapped.key "Norvane Networks" ca/issuer4.crt ca/issuer4.key v3_signer \
  "$(serial_of signers/signer07.crt)"
# Pair 3's serial number and key under a subject that differs only in letter case.
cp signers/signer03.key others/lettercase.key
cert others/lettercase.crt others/lettercase.key "Norvane networks" ca/issuer3.crt ca/issuer3.key v3_signer \
  "$(serial_of signers/signer03.crt)"
# A signer of another vendor under its own CA.
key others/thirdparty-ca.key 2048
cert others/thirdparty-ca.crt others/thirdparty-ca.key "Fabrikam Code Signing CA" ca/root.crt ca/root.key v3_ca "$(serial 16)"
key others/thirdparty.key 2048
cert others/thirdparty.crt others/thirdparty.key "Fabrikam Tools Ltd" others/thirdparty-ca.crt others/thirdparty-ca.key \
  v3_signer "$(serial 16)"
# Pair 8 (serial number and key) in a certificate that expired long ago.
cp signers/signer08.key others/expired.key
cert others/expired.crt others/expired.key "Norvane, Inc." ca/issuer1.crt ca/issuer1.key v3_signer \
  "$(serial_of signers/signer08.crt)" 20100101000000Z 20120101000000Z
for c in unpinned:issuer3 swapped:issuer4 lettercase:issuer3 expired:issuer1; do
  cat "others/${c%%:*}.crt" "ca/${c#*:}.crt" ca/root.crt > "others/${c%%:*}.chain.pem"
done
cat others/thirdparty.crt others/thirdparty-ca.crt ca/root.crt > others/thirdparty.chain.pem

# The time-stamping authority.
key tsa/tsa.key 2048
cert tsa/tsa.crt tsa/tsa.key "Kitloader Development Time Stamping" ca/root.crt ca/root.key v3_tsa "$(serial 16)"
cat tsa/tsa.crt ca/root.crt > tsa/tsa.chain.pem
echo "pki: regenerated in $here"
