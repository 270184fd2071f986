#!/bin/sh
# The build of the pinned table alone, configured with folders of signer
# certificates: check.sh <source root> <work folder>. A release refuses the
# development signers, even one among others, and a folder without ten; ten
# certificates of another maker (keys thrown away) make a release whose
# table is theirs in name order: each row the serial number and the RSA key.
set -eu
root=$1 work=$2
rm -rf "$work"
mkdir -p "$work/other" "$work/mixed" "$work/nine"
fail() { echo "FAIL: $*" >&2; exit 1; }

# Ten signers of another maker, serial numbers of 1 to 19 bytes.
n=0
for len in 1 3 5 7 9 11 13 15 17 19; do
  n=$((n + 1)); id=$(printf '%02d' $n)
  serial=$(printf '%02X' $((n + 0x10)))
  [ "$len" -eq 1 ] || serial=$serial$(openssl rand -hex $((len - 1)) | tr a-f A-F)
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -subj "/CN=Other Maker $id" -days 30 \
    -set_serial "0x$serial" -out "$work/other/signer$id.crt" 2>/dev/null
done
rm -f "$work/key.pem"
cp "$work"/other/signer0[1-9].crt "$work/nine/"; cp "$work"/other/*.crt "$work/mixed/"
cp "$root/pki/signers/signer05.crt" "$work/mixed/signer05.crt"

configure() {  # configure <build> <signers folder> <release ON|OFF>
  cmake -S "$root/tests/pinned_table" -B "$work/$1" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_TOOLCHAIN_FILE= \
    "-DKITLOADER_SIGNERS_DIR=$2" "-DKITLOADER_RELEASE=$3" >"$work/$1.log" 2>&1
}
refused() {  # refused <build> <signers folder> <expected text>
  if configure "$1" "$2" ON; then fail "$1: configured"; fi
  # CMake wraps a long message: its words are compared, not its lines.
  tr -s ' \n' '  ' <"$work/$1.log" | grep -q "$3" || { cat "$work/$1.log" >&2; fail "$1: no message \"$3\""; }
}
refused development "$root/pki/signers" "KITLOADER_RELEASE is ON but the build would pin development signers"
refused mixed-release "$work/mixed" "mixed/signer05.crt"
refused nine "$work/nine" "holds 9 certificates"

configure other "$work/other" ON || { cat "$work/other.log" >&2; fail "other maker's release: not configured"; }
grep -q "^#define KITLOADER_DEVELOPMENT_SIGNERS 0" "$work/other/generated/kit_build_identity.h" ||
  fail "other maker's release: marked as a development build"
grep -q '^#define KITLOADER_BUILD_NOTICE ""' "$work/other/generated/kit_build_identity.h" ||
  fail "other maker's release: carries the development notice"
cmake --build "$work/other" >"$work/other-build.log" 2>&1 || { cat "$work/other-build.log" >&2; fail "build"; }
"$work/other/pinned_table_dump" >"$work/table.txt"
[ "$(wc -l <"$work/table.txt")" -eq 10 ] || fail "table of $(wc -l <"$work/table.txt") rows"
n=0
while read -r serial key; do
  n=$((n + 1)); crt="$work/other/signer$(printf '%02d' $n).crt"
  want=$(openssl x509 -in "$crt" -noout -serial | cut -d= -f2)
  modulus=$(openssl x509 -in "$crt" -noout -modulus | cut -d= -f2 | tr A-F a-f)
  [ "$serial" = "$want" ] || fail "row $n: serial $serial, certificate $want"
  case "$key" in *"$modulus"*) ;; *) fail "row $n: the key is not the certificate's" ;; esac
done <"$work/table.txt"
echo "pinned table: the release refuses development signers; another folder's ten certificates make the table"
