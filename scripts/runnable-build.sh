# Sourced by the scripts that run the launcher (demo, bench, screenshot):
# picks the Windows build this host can run. The 32-bit launcher, the
# product, runs under 32-bit Wine where the kernel runs 32-bit programs;
# elsewhere the 64-bit build of the same sources runs under 64-bit Wine.
# Sets windows_preset, runnable_build (a phrase naming the build and why it
# was chosen) and exports PELTERIN_WINE_ARCH for scripts/wine-run.
if bash "$(dirname "${BASH_SOURCE[0]}")/host-runs-32bit"; then
  windows_preset=windows
  runnable_build="the 32-bit launcher under 32-bit Wine"
  export PELTERIN_WINE_ARCH=win32
else
  windows_preset=windows-x64
  runnable_build="the 64-bit launcher under 64-bit Wine (this host cannot run 32-bit programs, which 32-bit Wine needs)"
  export PELTERIN_WINE_ARCH=win64
fi
