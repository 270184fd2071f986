#!/bin/sh
# delayload-stubs.sh <nm> <import library> <dll name> <output folder> <source folder>...
# Writes one assembler file per function of the DLL that the sources name
# (the name itself or its ANSI form): the function's import slot first points
# at a stub that asks kit_delay_resolve for the address, which loads the DLL
# and stores the address in the slot, so the DLL is loaded at the first call
# of one of its functions instead of at start. A function the sources do not
# name comes from the toolchain's import library as before.
set -eu
nm="$1" lib="$2" dll="$3" out="$4"
shift 4
new="$out.new"
rm -rf "$new"
mkdir -p "$out" "$new"
names="$new/names.txt"
cat $(find "$@" -name '*.cpp' -o -name '*.h') | grep -ohE '[A-Za-z_][A-Za-z0-9_]*' | sort -u >"$names"
base=$(printf '%s' "$dll" | sed 's/\.dll$//')
"$nm" "$lib" | sed -n 's/^.* I __imp__\(.*\)$/\1/p' | sort -u | while read -r decorated; do
  name=${decorated%@*}
  if ! grep -qxF "$name" "$names" && ! { case "$name" in *A) grep -qxF "${name%A}" "$names" ;; *) false ;; esac; }; then
    continue
  fi
  cat >"$new/$base-$name.s" <<STUB
	.section .rdata,"dr"
Lname:
	.asciz "$name"
Ldll:
	.asciz "$dll"
	.data
	.p2align 2
	.globl __imp__$decorated
__imp__$decorated:
	.long Lload
	.text
	.globl _$decorated
_$decorated:
	jmp *__imp__$decorated
Lload:
	pushl \$__imp__$decorated
	pushl \$Lname
	pushl \$Ldll
	call _kit_delay_resolve
	addl \$12, %esp
	jmp *%eax
STUB
done
rm -f "$names"
# Only what changed is rewritten, so a configure run alone rebuilds nothing.
for file in "$out"/*.s; do
  [ -e "$file" ] && [ ! -e "$new/${file##*/}" ] && rm -f "$file"
done
for file in "$new"/*.s; do
  [ -e "$file" ] || continue
  cmp -s "$file" "$out/${file##*/}" || cp "$file" "$out/"
done
rm -rf "$new"
