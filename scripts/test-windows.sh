#!/usr/bin/env bash
# The Windows server under Wine (64-bit build): a fresh Wine prefix, the server registered under
# HKEY_CLASSES_ROOT, then
#   - the VBScript suite (tests/windows/server_suite.vbs) through Wine's own cscript.exe, with the
#     Outlook Express 4 sample store's location in the registry and the dialogs answered from an
#     answer file;
#   - kv_windows_tests.exe (tests/windows): IDispatch in process, the server through COM across
#     processes (registration, one process, its end after the last release), and the location and
#     folder dialogs shown for real and driven by window messages;
# everything in one X session of xvfb-run, so that the server has a desktop for its hidden window and
# the dialogs can be shown.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${KV_UNDER_XVFB:-}" ]; then
  scripts/install-deps.sh
  exec env KV_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

cmake --preset mingw64 >/dev/null
cmake --build build-mingw64 -j"$(nproc)" --target kvfltrs kv_windows_tests

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
OUT="$PWD/build-mingw64/windows-test"
export WINEPREFIX="$OUT/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts in a new prefix
rm -rf "$OUT"
mkdir -p "$OUT"

cleanup() { "$WINESERVER" -k 2>/dev/null || true; }
trap cleanup EXIT

# Windows paths of Linux files, as the server and the scripts see them.
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

echo "== Wine prefix"
timeout 300 "$WINE" wineboot -i >/dev/null 2>&1
# The prefix is finished only when the processes its creation started have ended.
timeout 300 "$WINESERVER" -w
# The suite's file checks use the scripting runtime, which a new prefix does not register yet.
"$WINE" regsvr32 /s scrrun.dll
SERVER="$(winpath build-mingw64/app/win32/kvfltrs.exe)"

# Output goes to files, not pipes: a server that COM starts inherits the client's output and could
# keep a pipe open.
run_wine() {
  timeout 300 "$WINE" "$@"
}

echo "== register the server"
run_wine "$SERVER"
"$WINE" reg query 'HKCR\KVFLTRS.OEIMPORTMSG\CLSID' >/dev/null
"$WINE" reg query 'HKCR\CLSID\{79524993-3A10-11D3-983D-0020AFF7BF53}\LocalServer32' >/dev/null

echo "== VBScript suite (Wine's cscript.exe)"
# The filter finds the store in the "Mail" folder below the registry's store root.
mkdir -p "$OUT/oe4-store"
cp -r samples/oe4 "$OUT/oe4-store/Mail"
"$WINE" reg add 'HKCU\Software\Microsoft\Outlook Express' /v 'store root' /t REG_SZ \
  /d "$(winpath "$OUT/oe4-store")" /f >/dev/null
printf 'folders-keep-empty\r\nfolders\r\n' >"$OUT/answers.txt"
KVFLTRS_ANSWERS="$(winpath "$OUT/answers.txt")" \
  run_wine cscript.exe //nologo "$(winpath tests/windows/server_suite.vbs)" >"$OUT/vbscript.raw"
tr -d '\r' <"$OUT/vbscript.raw" | tee "$OUT/vbscript.log"
vbs_summary="$(grep -E '^vbscript: [0-9]+ passed, [0-9]+ failed$' "$OUT/vbscript.log" || true)"
if [ -z "$vbs_summary" ]; then
  echo "the VBScript suite stopped before its result line (an uncaught script error)" >&2
  exit 1
fi

echo "== C++ client and dialogs (kv_windows_tests.exe)"
status=0
KVFLTRS_SERVER="$SERVER" run_wine "$(winpath build-mingw64/tests/windows/kv_windows_tests.exe)" \
  >"$OUT/windows-tests.raw" 2>&1 || status=$?
tr -d '\r' <"$OUT/windows-tests.raw" | tee "$OUT/windows-tests.log"

vbs_passed="$(echo "$vbs_summary" | sed -E 's/^vbscript: ([0-9]+) passed, ([0-9]+) failed$/\1/')"
vbs_failed="$(echo "$vbs_summary" | sed -E 's/^vbscript: ([0-9]+) passed, ([0-9]+) failed$/\2/')"
gtest_passed="$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$OUT/windows-tests.log")"
gtest_failed="$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?.*/\1/p' "$OUT/windows-tests.log")"
if [ -z "$gtest_passed" ] && [ -z "$gtest_failed" ]; then
  echo "kv_windows_tests.exe ended without its summary (exit status $status)" >&2
  exit 1
fi
echo "windows: $((vbs_passed + ${gtest_passed:-0})) passed, $((vbs_failed + ${gtest_failed:-0})) failed"
[ "$vbs_failed" -eq 0 ] && [ "$status" -eq 0 ]
