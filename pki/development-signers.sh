#!/bin/sh
# Prints each certificate given whose public key belongs to a private key
# kept under pki/: the development identity, with which anyone holding a clone
# of this repository can sign. Prints nothing when none does.
#   development-signers.sh <certificate.crt>...
set -eu
here=$(cd "$(dirname "$0")" && pwd)
known=$(find "$here" -name '*.key' | LC_ALL=C sort | while read -r key; do
  openssl pkey -in "$key" -pubout 2>/dev/null || true
done)
for crt in "$@"; do
  pub=$(openssl x509 -in "$crt" -noout -pubkey)
  case "$known" in
    *"$pub"*) echo "$crt" ;;
  esac
done
