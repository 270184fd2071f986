#!/usr/bin/env bash
# Writes the binary seed inputs into <seeds>/<target>/: cabinets packed by
# gcab (plain and signed) for the file-table and signature targets, the
# project's test INFs as the blocks the profile functions return, and the
# installer pipes' messages in both directions.
#   make-seeds.sh <seeds> <repository root> <gcab> <osslsigncode>
set -euo pipefail
seeds="$1" root="$2" gcab="$3" sign="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$seeds/cab_directory" "$seeds/authenticode" "$seeds/inf" "$seeds/pipe_messages"

mkdir -p "$work/files/sub"
printf 'one' >"$work/files/a.dat"
printf 'two' >"$work/files/sub/b.dat"
cp "$root/tests/packages/extract_sample/sample.inf" "$work/files/sample.inf"
(cd "$work/files" && "$gcab" -c "$work/plain.cab" a.dat sub/b.dat sample.inf)
(cd "$work/files" && "$gcab" -c -z "$work/mszip.cab" a.dat)

pki="$root/pki/signers/signer01"
"$sign" sign -certs "$pki.chain.pem" -key "$pki.key" -h sha256 -in "$work/plain.cab" -out "$work/signed.cab" >/dev/null
"$sign" sign -certs "$pki.chain.pem" -key "$pki.key" -h sha1 -in "$work/mszip.cab" -out "$work/signed-sha1.cab" >/dev/null

cp "$work/plain.cab" "$work/mszip.cab" "$work/signed.cab" "$seeds/cab_directory/"
cp "$work/signed.cab" "$work/signed-sha1.cab" "$seeds/authenticode/"

# Every INF line NUL-terminated: a block of section lines or section names.
for inf in "$root"/tests/packages/*/*.inf; do
  tr '\r\n' '\0\0' <"$inf" >"$seeds/inf/$(basename "$inf" .inf)"
done

python3 - "$seeds/pipe_messages" <<'PY'
import struct, sys
out = sys.argv[1]
magic, header = 0x5545AABB, 532
def save(name, data):
    open(f"{out}/{name}", "wb").write(data)
name = "package.cab".encode("utf-16-le")
save("version-request", struct.pack("<III", magic, 12, 3))
save("ui-window-request", struct.pack("<IIII", magic, 16, 5, 0x1234))
save("install-request", struct.pack("<III", magic, header + 4096, 2) + name.ljust(header - 12, b"\0"))
# Install requests followed by the received cabinet's file names, one per
# line: the service's own update by its fixed name and by its program inside.
update = "NorvaneISUpdate.cab".encode("utf-16-le")
save("install-service-update", struct.pack("<III", magic, header + 4096, 2) + update.ljust(header - 12, b"\0"))
save("install-carrying-service", struct.pack("<III", magic, header + 4096, 2) + name.ljust(header - 12, b"\0")
     + b"readme.txt\nbin\\OMBRIXSVC.EXE")
save("install-path-name", struct.pack("<III", magic, header, 2) + "..\\x.cab".encode("utf-16-le").ljust(header - 12, b"\0"))
save("response", struct.pack("<IIIII", magic, 20, 4, 1, 2))
save("response-bad-size", struct.pack("<IIIII", magic, 0xFFFFFFFF, 4, 0, 0))
PY
