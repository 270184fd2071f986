#!/bin/sh
# Writes the pinned-certificate table of the trust decision from the signer
# certificates given, in table order:
#   pinned-table.sh <out.cpp> <signer01.crt> ... <signer10.crt>
# Each row: the serial number in the byte order of the certificate
# information structure (least significant byte first) and the lower-case
# hexadecimal DER encoding of the RSA public key.
set -eu
out=$1
shift
tmp="$out.tmp"
serials=""
rows=""
n=0
for crt in "$@"; do
  n=$((n + 1))
  hex=$(openssl x509 -in "$crt" -noout -serial | cut -d= -f2)
  bytes=$(echo "$hex" | sed 's/../& /g' | tr ' ' '\n' | grep . | sed -n '1!G;h;$p' | sed 's/^/0x/' | paste -sd, -)
  key=$(openssl x509 -in "$crt" -noout -pubkey | openssl rsa -pubin -RSAPublicKey_out -outform DER 2>/dev/null |
        od -An -v -tx1 | tr -d ' \n')
  serials="$serials
const unsigned char kSerial$n[] = {$bytes};"
  rows="$rows
    {kSerial$n, sizeof kSerial$n, \"$key\"},"
done
{
  echo "// Generated at build time from the signer certificates the build pins."
  echo "#include \"trust/pinned_certificates.h\""
  echo
  echo "namespace {$serials"
  echo "}  // namespace"
  echo
  echo "const PinnedCertificate kPinnedCertificates[kPinnedCertificateCount] = {$rows"
  echo "};"
} > "$tmp"
mv "$tmp" "$out"
