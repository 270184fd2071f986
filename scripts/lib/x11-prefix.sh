# Sourced by scripts that show kitloader's windows for a person: a Wine prefix
# of its own with the X11 driver (the test prefix has the null one). Without a
# window manager Wine draws the title bars itself (Managed=N).
# Needs: $build.
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
