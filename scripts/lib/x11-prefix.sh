# Sourced by scripts that show kitloader's windows for a person: a Wine prefix
# of its own with the X11 driver (the test prefix has the null one). Without a
# window manager Wine draws the title bars itself (Managed=N).
# Needs: $build, $root.
source "$root/scripts/lib/i386-exec.sh"
kl_i386_ensure
export WINEPREFIX="$build/wineprefix-screens"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.kitloader-ready" ]; then
  rm -rf "$WINEPREFIX"
  DISPLAY= wineboot -i >/dev/null 2>&1
  DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.kitloader-ready"
fi
# Wine's own Tahoma (for "MS Shell Dlg") and Marlett (the caption buttons),
# from fonts-wine: this Wine build does not look for them where Debian puts
# them, but it loads what lies in the prefix's Fonts folder.
for f in /usr/share/wine/fonts/*.ttf; do
  [ -f "$WINEPREFIX/drive_c/windows/Fonts/${f##*/}" ] || cp "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
done

# Waits until a visible window of the Windows program $1 (its X class name,
# such as kitloader.exe) is on the screen and prints its X window id; with
# "owned" as $2, only a window owned by another one counts (a message box
# over its program's window). Gives up after $3 seconds (default 180): under
# qemu-user a program takes several seconds to show anything.
kl_wait_window() {
  local deadline=$((SECONDS + ${3:-180})) w
  while [ "$SECONDS" -lt "$deadline" ]; do
    for w in $(xdotool search --onlyvisible --classname "$1" 2>/dev/null); do
      if [ "${2:-}" != owned ] || xprop -id "$w" WM_TRANSIENT_FOR 2>/dev/null | grep -q 'window id'; then
        echo "$w"
        return 0
      fi
    done
    sleep 0.2
  done
  echo "no window of $1 appeared within ${3:-180} s" >&2
  return 1
}
