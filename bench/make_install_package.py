#!/usr/bin/env python3
"""Writes the install benchmark's package folder: 256 files of 96 KiB and
one of 40 MiB (64 MiB in all, text that packs about as well as program
files do) and bench.inf, whose [Add.Code] names every one of them.
With a size in MiB as second argument, the same mix scaled to that size
(4 small files and 40/64 of a MiB in the large one per MiB)."""
import os
import random
import sys

folder = sys.argv[1]
mib = int(sys.argv[2]) if len(sys.argv) > 2 else 64
os.makedirs(folder, exist_ok=True)
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz0123456789") for _ in range(rng.randint(2, 9)))
         for _ in range(4096)]


def write(name, size):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(out[:size])


names = ["ombrixbench%03d.dat" % i for i in range(4 * mib)] + ["ombrixbenchbig.dat"]
for name in names[:-1]:
    write(name, 96 * 1024)
write(names[-1], mib * 40 * 1024 * 1024 // 64)
with open(os.path.join(folder, "bench.inf"), "w") as f:
    f.write("[Add.Code]\n" + "".join("%s=%s\n" % (n, n) for n in names) + "\n")
    f.write("".join("[%s]\nfile=thiscab\n\n" % n for n in names))
with open(os.path.join(folder, "files.txt"), "w") as f:
    f.write("\n".join(["bench.inf"] + names) + "\n")
