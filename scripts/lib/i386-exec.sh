# Sourced by scripts/setup, build/wine-run and the scripts that show windows.
# How this machine runs Wine's 32-bit (i386) Linux programs:
#   native  the kernel runs i386 code itself (IA-32 emulation on);
#   qemu    a static qemu-i386 (version 8 or later) registered with
#           binfmt_misc for i386 ELF files with the flag F runs them.
# A binfmt_misc entry takes precedence over the kernel's own ELF loader, so
# while the entry "qemu-i386" is enabled every i386 program runs under qemu,
# whatever the kernel could do by itself.

KL_BINFMT_DIR=/proc/sys/fs/binfmt_misc
KL_BINFMT_NAME=qemu-i386
KL_QEMU_MIN_MAJOR=8
# The i386 program that stands for them all: Wine's 32-bit loader.
KL_I386_PROBE=/usr/lib/wine/wine
# i386 ELF executables (e_ident class 1, data 1, version 1; e_type 2 or 3;
# e_machine 3), the usual qemu-user pattern.
KL_BINFMT_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
KL_BINFMT_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

kl_sudo() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Prints the major version of the qemu binary $1 (nothing if it is no qemu).
kl_qemu_major() {
  "$1" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p' | head -n 1
}

# True when $1 is a statically linked qemu-i386 of a usable version.
kl_qemu_usable() {
  [ -x "$1" ] || return 1
  local major
  major="$(kl_qemu_major "$1")"
  [ -n "$major" ] && [ "$major" -ge "$KL_QEMU_MIN_MAJOR" ] || return 1
  ! LC_ALL=C readelf -l "$1" 2>/dev/null | grep -q 'program interpreter'
}

# Prints the first usable qemu-i386 on this machine.
kl_qemu_find() {
  local q
  for q in /usr/bin/qemu-i386-static /usr/bin/qemu-i386 /usr/local/bin/qemu-i386; do
    if kl_qemu_usable "$q"; then echo "$q"; return 0; fi
  done
  return 1
}

# The interpreter of the enabled binfmt_misc entry, or nothing.
kl_binfmt_interpreter() {
  local entry="$KL_BINFMT_DIR/$KL_BINFMT_NAME"
  [ -r "$entry" ] || return 0
  grep -qx enabled "$entry" || return 0
  sed -n 's/^interpreter //p' "$entry"
}

kl_binfmt_mount() {
  [ -w "$KL_BINFMT_DIR/register" ] && return 0
  kl_sudo mount -t binfmt_misc binfmt_misc "$KL_BINFMT_DIR" 2>/dev/null || true
  [ -e "$KL_BINFMT_DIR/register" ]
}

# Registers qemu binary $1 for i386 ELF files, replacing an older entry.
kl_binfmt_register() {
  kl_binfmt_mount || { echo "i386: binfmt_misc cannot be mounted at $KL_BINFMT_DIR" >&2; return 1; }
  if [ -e "$KL_BINFMT_DIR/$KL_BINFMT_NAME" ]; then
    echo -1 | kl_sudo tee "$KL_BINFMT_DIR/$KL_BINFMT_NAME" >/dev/null
  fi
  printf ':%s:M::%s:%s:%s:F\n' "$KL_BINFMT_NAME" "$KL_BINFMT_MAGIC" "$KL_BINFMT_MASK" "$1" |
    kl_sudo tee "$KL_BINFMT_DIR/register" >/dev/null
}

kl_binfmt_unregister() {
  if [ -e "$KL_BINFMT_DIR/$KL_BINFMT_NAME" ]; then
    echo -1 | kl_sudo tee "$KL_BINFMT_DIR/$KL_BINFMT_NAME" >/dev/null
  fi
}

# True when an i386 program starts (natively or through the registration).
kl_i386_runs() { "$KL_I386_PROBE" --version >/dev/null 2>&1; }

# Prints the path in use: "qemu <binary> <version>" or "native".
kl_i386_path() {
  local q
  q="$(kl_binfmt_interpreter)"
  if [ -n "$q" ]; then
    echo "qemu $q $("$q" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([^ ]*\).*/\1/p' | head -n 1)"
  else
    echo native
  fi
}

# Before running anything under Wine: the registration does not survive a
# reboot and may point at a missing or too old qemu; repair it where i386
# programs cannot run otherwise. Cheap when all is well (a read of the entry,
# or one start of the probe).
kl_i386_ensure() {
  local q
  q="$(kl_binfmt_interpreter)"
  if [ -n "$q" ]; then
    kl_qemu_usable "$q" && return 0
    echo "i386: the binfmt_misc entry points at a missing or too old qemu ($q); removing it" >&2
    kl_binfmt_unregister
  fi
  kl_i386_runs && return 0
  q="$(kl_qemu_find)" || {
    echo "i386: this machine runs no i386 programs and has no qemu-i386 of version $KL_QEMU_MIN_MAJOR or later; run scripts/setup" >&2
    return 1
  }
  kl_binfmt_register "$q" || return 1
  kl_i386_runs || { echo "i386: $KL_I386_PROBE does not start even under $q" >&2; return 1; }
}
