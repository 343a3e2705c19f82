#!/usr/bin/env bash
# The WOW64 stage's cases, run inside the emulated 64-bit machine by scripts/wow64-test: the
# i686 product (and i686 test programs) as 32-bit processes of a 64-bit Wine prefix, as on
# nearly every user's Windows. Writes "PASS <case>" or "FAIL <case>: <why>" lines to
# $BW_BUILD/wow64/results and the details of each case to $BW_BUILD/wow64/<case>.log.
# Environment: BW_SRC and BW_BUILD, the host's source and build folders (mounted at the same
# paths, so the Z: paths built into the test programs hold).
set -uo pipefail
src="$BW_SRC"
build="$BW_BUILD"
bin32="$build/i686/bin"
bin64="$build/x86_64/bin"
out="$build/wow64"
results="$out/results"
: >"$results"

# Programs run from a local copy of the build's bin folders, laid over the shared ones: pages
# that Wine maps from the 9p share can come back wrong (a kit installer run from there wrote a
# corrupt kittool.exe from its resources).
for arch in i686 x86_64; do
  mkdir -p "/root/bin-$arch"
  cp -a "$build/$arch/bin/." "/root/bin-$arch/"
  mount --bind "/root/bin-$arch" "$build/$arch/bin"
done

export WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
c="$WINEPREFIX/drive_c"
work='C:\Program Files (x86)\Tessel Software\Bootwright'
work_unix="$c/Program Files (x86)/Tessel Software/Bootwright"
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tessel Backup System_is1'
desktop=bw

Xvfb :1 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
export DISPLAY=:1
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1

say() { echo "$@" >>"$log"; }
wine_q() { wine "$@" </dev/null >>"$log" 2>&1; }
fail() { say "FAILED: $*"; why="$*"; return 1; }

# run_case <name> <function>: one line in the results, the details in <name>.log.
run_case() {
  log="$out/$1.log"
  why=""
  : >"$log"
  local started=$SECONDS
  if "$2"; then
    echo "PASS $1 ($((SECONDS - started)) s)" | tee -a "$results"
  else
    echo "FAIL $1 ($((SECONDS - started)) s): ${why:-see $1.log}" | tee -a "$results"
  fi
}

# The PE machine of a file (i386, amd64, or what it is instead).
pe_machine() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read(4096)
if data[:2] != b'MZ': print('not-pe'); sys.exit()
pe = struct.unpack_from('<I', data, 0x3c)[0]
if data[pe:pe + 4] != b'PE\0\0': print('not-pe'); sys.exit()
print({0x14c: 'i386', 0x8664: 'amd64'}.get(struct.unpack_from('<H', data, pe + 4)[0], 'other'))
EOF
}

# Extracts the files of an image or ISO container (the kit stand-ins' format) below a folder.
unpack() {
  python3 - "$1" "$2" <<'EOF'
import os, sys
data = open(sys.argv[1], 'rb').read()
pos = 0
def line():
    global pos
    end = data.index(b'\r\n', pos)
    text = data[pos:end].decode('latin-1'); pos = end + 2
    return text
assert line() == 'BWIMAGE 1'
while True:
    text = line()
    if text == 'end': break
    kind, rest = text.split(' ', 1)
    if kind == 'file':
        size, name = rest.split(' ', 1)
        target = os.path.join(sys.argv[2], *name.split('\\'))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        open(target, 'wb').write(data[pos:pos + int(size)])
        pos += int(size) + 2
EOF
}

# The wizard on its own desktop; the 64-bit driver works its 32-bit window.
wizard_pid=""
start_wizard() {  # <program> [arguments]
  # No stored page: every start shows the agreement first.
  wine_q reg delete 'HKCU\Software\Bootwright' /f
  (cd "$c" && exec wine explorer "/desktop=$desktop,800x600" "$@" </dev/null >>"$log" 2>&1) &
  wizard_pid=$!
}
# Every step has its own limit; the outer one only guards against a driver that hangs, and
# leaves what was running in the log.
drive() {
  timeout 900 wine "$bin64/bwdrive.exe" --desktop "$desktop" "$@" </dev/null 2>>"$log" && return 0
  local rc=$?
  say "bwdrive $* ended with $rc; running:"
  ps -eo pid,etime,time,args | grep -i '\.exe' | grep -v grep >>"$log"
  return "$rc"
}

stop_wizard() {
  timeout 60 wine "$bin64/bwdrive.exe" --desktop "$desktop" close </dev/null >/dev/null 2>&1
  local waited=0
  while [ -n "$wizard_pid" ] && kill -0 "$wizard_pid" 2>/dev/null && [ "$waited" -lt 60 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  # A window that does not close (a box open, a hung run) ends with the prefix's processes.
  if [ -n "$wizard_pid" ] && kill -0 "$wizard_pid" 2>/dev/null; then
    say "the wizard did not close"
    wineserver -k
  fi
  [ -n "$wizard_pid" ] && { wait "$wizard_pid" 2>/dev/null || true; }
  wizard_pid=""
}

# A machine with the product "installed" (a 32-bit worker in C:\TXB32, a 64-bit one in
# C:\TXB64), the kit in the working folder and the console tools of both architectures.
stage_machine() {
  mkdir -p "$c/TXB32" "$c/TXB64"
  cp "$bin32/standins/TXBWorker.exe" "$c/TXB32/"
  cp "$bin64/standins/TXBWorker.exe" "$c/TXB64/"
  wine_q "$bin32/standins/adksetup.exe" /features OptionId.DeploymentTools /installpath "$work\\ADK" /q
  wine_q "$bin32/standins/adkwinpesetup.exe" /features OptionId.WindowsPreinstallationEnvironment \
    /installpath "$work\\ADK" /q
  for tool in timeout.exe choice.exe; do
    cp "$bin64/standins/$tool" "$c/windows/system32/$tool"
    cp "$bin32/standins/$tool" "$c/windows/syswow64/$tool"
  done
}

clear_key() {
  wine_q reg delete "$uninstall" /reg:64 /f
  wine_q reg delete "$uninstall" /reg:32 /f
}

# One ISO run through the window, its log in $out/<name>.txt:
#   iso_run <name> <registry view of the key> <worker folder> <text the run logs> [switches]
iso_run() {
  local name="$1" view="$2" folder="$3" expected="$4"
  shift 4
  clear_key
  wine_q reg add "$uninstall" /reg:"$view" /v InstallLocation /d "$folder" /f
  rm -f "$work_unix/TXB/TXBWorker.exe" "$c/$name.iso" "$out/arch.txt"
  start_wizard "$bin32/Bootwright.exe" "$@"
  drive window 60000 click start waitlog Ready. 60000 settext iso "C:\\$name.iso" click start \
    waitlog "$expected" 180000 waitidle 600000 || { stop_wizard; fail "no idle window"; return 1; }
  drive log | tr -d '\r' >"$out/$name.txt"
  stop_wizard
  cat "$out/$name.txt" >>"$log"
}

case_starts() {
  start_wizard "$bin32/Bootwright.exe"
  drive window 60000 || { fail "no window"; return 1; }
  local agreement
  agreement="$(drive log | tr -d '\r')"
  say "$agreement"
  [ -n "$agreement" ] || { stop_wizard; fail "the agreement page shows no text"; return 1; }
  drive click start waitlog Ready. 60000 || { stop_wizard; fail "no options page after I Agree"; return 1; }
  stop_wizard
  ! grep -q 'Unhandled' "$log" || fail "$(grep -m1 'Unhandled' "$log")"
}

# The default medium, the key in the 64-bit view only. The elevated build runs no AutoRun.
case_iso_run() {
  local autorun='HKCU\Software\Microsoft\Command Processor'
  stage_machine
  export BW_ARCH_RECORD="$(winepath -w "$out/arch.txt")"
  wine_q reg add "$autorun" /v AutoRun /d 'echo AUTORUN-RAN' /f
  iso_run x86 64 'C:\TXB32' "Creating the boot image"
  local rc=$?
  wine_q reg delete "$autorun" /v AutoRun /f
  [ "$rc" -eq 0 ] || return 1
  grep -q 'DONE!' "$out/x86.txt" || { fail "no DONE!"; return 1; }
  grep -q '^Executing "C:\\windows\\Sysnative\\cmd.exe" /d /c ""C:\\Program Files (x86)\\Tessel Software\\Bootwright\\bwrs.bat" ISO "C:\\x86.iso" x86"' \
    "$out/x86.txt" || { fail "the build was not started through Sysnative\\cmd.exe /d"; return 1; }
  grep -q 'AUTORUN-RAN' "$out/x86.txt" && { fail "the interpreter ran AutoRun"; return 1; }
  local arch
  arch="$(tr -d '\r ' <"$out/arch.txt" 2>/dev/null)"
  [ "$arch" = "AMD64" ] || { fail "the script ran with PROCESSOR_ARCHITECTURE=$arch"; return 1; }
  [ -s "$c/x86.iso" ] || fail "no C:\\x86.iso"
}

# The /amd64 medium, the key in the 32-bit view only; on a Windows 10 it also takes this
# computer's storage driver along.
case_registry_views() {
  grep -q 'TXB Worker is missing' "$out/x86.txt" && { fail "64-bit view: not found"; return 1; }
  wine_q reg add 'HKCU\Software\Wine' /v Version /d win10 /f
  printf '[Version]\r\nClass=SCSIAdapter\r\n[SourceDisksFiles]\r\nvmd.sys=1\r\n' >"$c/windows/inf/oem1.inf"
  echo driver >"$c/windows/inf/vmd.sys"
  cp "$bin64/standins/pnputil.exe" "$c/windows/system32/pnputil.exe"
  iso_run amd64 32 'C:\TXB64' "Creating the boot image" /amd64
  local rc=$?
  wine_q reg delete 'HKCU\Software\Wine' /v Version /f
  rm -f "$c/windows/inf/oem1.inf" "$c/windows/inf/vmd.sys"
  [ "$rc" -eq 0 ] || return 1
  grep -q 'TXB Worker is missing' "$out/amd64.txt" && { fail "32-bit view: not found"; return 1; }
  grep -q 'DONE!' "$out/amd64.txt" || { fail "the /amd64 run did not reach DONE!"; return 1; }
  ! grep -q 'The system cannot find the path specified' "$out/amd64.txt" ||
    fail "the native interpreter looked for a folder it has not"
}

# A 32-bit worker cannot start on a 64-bit medium: the run stops before the build.
case_worker_suits_medium() {
  local line="The backup worker $work\\TXB\\TXBWorker.exe is a 32-bit program; a 64-bit medium cannot start it. Start Bootwright without /amd64."
  iso_run mismatch 64 'C:\TXB32' "The backup worker" /amd64
  local rc=$?
  clear_key  # the test programs below stage their own product
  [ "$rc" -eq 0 ] || return 1
  grep -qxF "$line" "$out/mismatch.txt" || { fail "no line: $line"; return 1; }
  ! grep -q 'Creating the boot image' "$out/mismatch.txt" || fail "the build ran"
}

case_console_tools() {
  local iso machine want tool
  for iso in x86 amd64; do
    rm -rf "$out/image-$iso"
    unpack "$c/$iso.iso" "$out/image-$iso/media" || { fail "cannot read $iso.iso"; return 1; }
    unpack "$out/image-$iso/media/sources/boot.wim" "$out/image-$iso/wim" ||
      { fail "cannot read boot.wim of $iso.iso"; return 1; }
  done
  # Wine 8's cmd runs b of "a || b" even after a succeeded, so on the x86 medium system32's copy
  # (taken second) replaces SysWow64's; Windows stops at the first.
  local media="x86 amd64"
  if [ "$(wine cmd /c 'echo a || echo b' </dev/null 2>/dev/null | tr -d '\r' | tail -1)" = b ]; then
    media=amd64
    echo "SKIP console-tools-on-x86-medium: Wine's cmd runs both sides of ||" | tee -a "$results"
  fi
  for iso in $media; do
    want=i386
    [ "$iso" = amd64 ] && want=amd64
    for tool in timeout.exe choice.exe; do
      machine="$(pe_machine "$out/image-$iso/wim/Windows/System32/$tool" 2>/dev/null)"
      say "$iso medium: $tool is $machine"
      [ "$machine" = "$want" ] || { fail "$iso medium: $tool is ${machine:-missing}"; return 1; }
    done
  done
}

case_host_drivers() {
  local line="Adding this computer's storage and network drivers (1) to the image."
  grep -qF "$line" "$out/x86.txt" && { fail "the x86 medium took the x64 machine's drivers"; return 1; }
  grep -qF "$line" "$out/amd64.txt" || { fail "no line: $line"; return 1; }
  [ -n "$(find "$out/image-amd64/wim" -ipath '*/windows/inf/oem1.inf')" ] ||
    fail "no oem1.inf in the amd64 image"
}

# The i686 test programs, each in one process: <program> [gtest filter].
test_program() {
  local program="$bin32/$1.exe" filter="${2:-*}"
  [ -e "$program" ] || { fail "no $1.exe"; return 1; }
  (cd "$bin32" && wine "$program" --gtest_filter="$filter" --gtest_brief=1 </dev/null >>"$log" 2>&1) ||
    { fail "$(grep -m3 '^\[  FAILED' "$log" | tr '\n' ' ')"; return 1; }
}

# The downloads' server, as CTest's fixture starts it for the Wine tests.
http() {
  local state="$build/i686/tests/http"
  if [ "$1" = start ]; then set -- start "$state" "$bin32"; else set -- stop "$state"; fi
  python3 "$src/tests/common/http_server.py" "$@" >>"$out/http.log" 2>&1
}

case_first_run() { test_program app_window_tests 'FirstRun.*'; }

# Wine prefers its own DLLs unless told otherwise; native-first makes it search the program's
# folder as Windows does.
case_planted_dlls() {
  WINEDLLOVERRIDES="mscoree,mshtml=;wintrust,crypt32,mpr,urlmon,riched20=n,b" \
    test_program app_planted_tests
}

http start || echo "FAIL http-server: see http.log" | tee -a "$results"
run_case starts case_starts
run_case iso-run-in-native-interpreter case_iso_run
run_case registry-views case_registry_views
run_case console-tools-per-architecture case_console_tools
run_case host-drivers-on-amd64-medium case_host_drivers
run_case worker-must-suit-the-medium case_worker_suits_medium
run_case first-run-downloads case_first_run
run_case planted-dlls case_planted_dlls
for program in ${BW_WOW64_PROGRAMS:-support_tests tasks_tests pipeline_mediarun_tests startup_tests app_rules_tests release_manifest_tests standin_kit_tests build_script_tests startup_script_tests standin_boot_tests}; do
  case_program() { test_program "$program"; }
  run_case "i686-$program" case_program
done
http stop
wineserver -k
echo "done" >>"$results.done"
