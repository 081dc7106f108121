#!/usr/bin/env bash
# The device session driven as a person drives it: keys into a terminal
# (tmux), the screen read back. Each wait polls the screen with a deadline.
#
#   session_test.sh <case> <device-session> <Tarquell> <Velloria> [<wince build>]
#   cases: rotate, rotate-arm, no-rotation, options, start-up, lingering-arm, planted, terminal,
#          terminal-arm (with $ARMEMU)
set -uo pipefail

case_name=$1
session=$2
tarquell=$3
velloria=${4:-}
wince=${5:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/zk-session-XXXXXX")
socket=$work/tmux.0.sock
starts=0
device=$work/device
cleanup() {
  local each
  for each in $(tag=$$- tagged_pids); do kill -KILL "$each" 2>/dev/null; done
  for each in "$work"/tmux.*.sock; do
    [ -S "$each" ] && tmux -S "$each" kill-server 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

export TERM=${TERM:-xterm}
[ "$TERM" = dumb ] && export TERM=xterm
unset CE_DEVICE_ROOT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

screen() {
  tmux -S "$socket" capture-pane -p -J -S - -t zk 2>/dev/null
}

show_screen() {
  echo "---- screen ----" >&2
  screen >&2
  echo "----------------" >&2
}

# Runs the shell command $1 in a new terminal of $cols x $rows (100x30), on
# a tmux server of its own each time (a killed one may still hold its
# socket); the pane stays after the command ends.
new_pane() {
  tmux -S "$socket" kill-server 2>/dev/null
  starts=$((starts + 1))
  socket=$work/tmux.$starts.sock
  printf 'set -g remain-on-exit on\nset -g history-limit 5000\n' >"$work/tmux.conf"
  tmux -S "$socket" -f "$work/tmux.conf" new-session -d -s zk -x "${cols:-100}" -y "${rows:-30}" "$1" ||
    { echo "cannot start tmux" >&2; exit 1; }
}

# Starts the session and waits for its dialog. After it, its exit status is
# written to the same terminal, so that everything it wrote is on the screen
# once that line is.
start() {
  new_pane "'$session' --device '$device' ${session_options:-}; echo \"[session ended: \$?]\""
  wait_for "$dialog"
}

keys() {
  tmux -S "$socket" send-keys -t zk "$@"
}

# Number of lines matching the extended regex $1 on the screen, or in file $2.
count() {
  { [ -z "${2:-}" ] && screen || cat -- "$2" 2>/dev/null; } | grep -cE -- "$1"
}

# Waits until the screen (or file $3) has at least $2 (default 1) lines
# matching $1.
wait_for() {
  local pattern=$1 wanted=${2:-1} deadline=$((SECONDS + ${patience:-10}))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(count "$pattern" "${3:-}")" -ge "$wanted" ] && return 0
    sleep 0.05
  done
  fail "no ${wanted}x /$pattern/ ${3:-on the screen} within ${patience:-10} s"
  show_screen
  exit 1
}

# A soft reset: the key, then warm start $1 and the $2-th (default first)
# prompt after it.
soft_reset() {
  keys r
  wait_for "warm start $1"
  wait_for "$prompt" "${2:-1}"
}

# The launcher ended having opened nothing, once on the screen.
expect_nothing_opened() {
  expect_count 'Tarquell.exe ended; it opened nothing\.' 1
  expect_count "$notice" 0
}

# Quits the session and waits for it to end; its exit status must be 0.
quit() {
  keys q
  wait_for '^\[session ended: [0-9]+\]$'
  expect_count '^\[session ended: 0\]$' 1
}

expect_count() {
  local pattern=$1 wanted=$2 got
  got=$(count "$pattern")
  [ "$got" -eq "$wanted" ] || { fail "/$pattern/ on the screen $got times, expected $wanted"; show_screen; }
}

# The line numbers of the first match of each pattern rise in this order.
expect_order() {
  local last=0 pattern line
  for pattern in "$@"; do
    line=$(screen | grep -nE -- "$pattern" | head -1 | cut -d: -f1)
    if [ -z "$line" ] || [ "$line" -le "$last" ]; then
      fail "/$pattern/ is not where expected (line ${line:-none}, after line $last)"
      show_screen
      return
    fi
    last=$line
  done
}

# The lines after the changes heading, or the "nothing changed" line.
changes() {
  screen | sed -n '/registry during this session/,$p' | grep -v '^Pane is dead\|^\[session ended' |
    sed '/^$/d'
}

# $2 is $3 exactly; $1 says what it is.
expect_text() {
  [ "$2" = "$3" ] || fail "$(printf '%s:\n%s\nexpected:\n%s' "$1" "$2" "$3")"
}

# A device set up by a session that quits at once.
set_up() {
  mkdir -p "$device" && printf q | "$session" --device "$device" >/dev/null 2>&1
}

readonly notice='Control Panel: The stylus alignment page is open'
readonly prompt='^> '
readonly dialog='soft reset'

case_rotate() {
  start
  # Focus starts on "soft reset"; back from it: "reg*", then "rotate".
  keys BTab BTab
  wait_for '>[[:space:]]*rotate[[:space:]]*<'
  keys Enter
  wait_for '"Rotate"=dword:00000003' 1 "$device/registry.reg"
  soft_reset 1
  expect_count "$notice" 1
  expect_count 'Velloria ended with' 0  # on the emulator it stops at the restart, which is no failure
  expect_order 'Velloria asked for a restart' 'warm start 1' "Starting \\\\Windows\\\\StartUp\\\\${startup_entry:-Tarquell.exe}" \
    "$notice" 'Tarquell.exe ended; it opened ctlpnl\.' 'The device is up\.' "$prompt"
  expect_text ctlpnl.log "$(cat "$device/device:/Windows/ctlpnl.log" 2>&1)" cplmain.cpl,7
  [ ! -e "$device/restart-requested" ] || fail "the restart request was not taken"

  soft_reset 2 2
  expect_count "$notice" 1
  expect_count 'Tarquell.exe ended; it opened nothing\.' 1
  expect_order 'warm start 2' 'Tarquell.exe ended; it opened nothing\.'
  [ "$(wc -l <"$device/device:/Windows/ctlpnl.log")" -eq 1 ] || fail "the control panel opened again"

  quit
  expect_text 'the list of changes' "$(changes)" 'What changed in the device registry during this session:
  HKEY_LOCAL_MACHINE\Drivers\Display\mq120 "Rotate": 0 -> 1  (Display orientation: "rotate")
  HKEY_LOCAL_MACHINE\Drivers\Display\mq1100 "Rotate": 0 -> 3  (Display orientation: "rotate")
  HKEY_CURRENT_USER\SOFTWARE\Zelkoran "align": absent -> 0  (the recalibration flag)'
}

# The same road on the handheld's own programs, on the emulated StrongARM,
# installed from their cabinet as the device's installer does: the programs
# in \Program Files\Velloria, Velloria opened from its Start menu shortcut,
# the launcher started by its shortcut in \Windows\StartUp. Then a session of
# the host's programs on that device runs the host's launcher again, not the
# handheld's.
case_rotate_arm() {
  local lnk='38#"\Program Files\Velloria\' programs="$device/device:/Program Files/Velloria"
  session_options=--arm startup_entry='Tarquell.lnk, which starts \\Program Files\\Velloria\\Tarquell.exe' case_rotate
  [ "$failures" -eq 0 ] || return
  expect_count 'Installed .*/Velloria.cab on the device\.' 1
  expect_count '^  added \\Program Files\\Velloria\\Velloria\.exe$' 1
  cmp -s "$programs/Velloria.exe" "$wince/settings/Velloria.exe" || fail "Velloria.exe is not the build's"
  cmp -s "$programs/Tarquell.exe" "$wince/launcher/Tarquell.exe" || fail "Tarquell.exe is not the build's"
  expect_text "the Start menu's shortcut" "$(cat "$device/device:/Windows/Start Menu/Programs/Velloria.lnk")" "${lnk}Velloria.exe\""
  expect_text 'the start-up shortcut' "$(cat "$device/device:/Windows/StartUp/Tarquell.lnk")" "${lnk}Tarquell.exe\""
  expect_text 'the start-up folder' "$(ls "$device/device:/Windows/StartUp")" Tarquell.lnk

  # The desktop opens Velloria through its shortcut: a broken one opens nothing.
  session_options=--arm start
  keys c
  wait_for "$prompt"
  printf '9#"\\x.exe"' >"$device/device:/Windows/Start Menu/Programs/Velloria.lnk"
  keys s
  wait_for 'Velloria could not be opened: .*Velloria.lnk is a malformed shortcut'
  rm "$device/device:/Windows/Start Menu/Programs/Velloria.lnk"
  keys s
  wait_for 'Velloria could not be opened: .*\\Velloria\.lnk is missing\.$'
  mkdir "$device/device:/Windows/Start Menu/Programs/Velloria.lnk"
  keys s
  wait_for 'Velloria could not be opened: .*\\Velloria\.lnk is a folder, not a shortcut file\.$'
  rmdir "$device/device:/Windows/Start Menu/Programs/Velloria.lnk"
  mv "$device/device:/Windows/Start Menu" "$device/device:/Windows/Menu"
  keys s
  wait_for 'Velloria could not be opened: .*\\Velloria\.lnk is missing\.$' 2
  mv "$device/device:/Windows/Menu" "$device/device:/Windows/Start Menu"
  expect_count ' is there is no | is not a shortcut file' 0
  quit

  start
  soft_reset 1
  expect_nothing_opened
  quit

  # The host's session took the start-up shortcut away: the next install puts
  # it back; the same cabinet once more changes no file.
  for each in 1 2; do
    session_options=--arm start
    keys c
    wait_for "$prompt"
    quit
  done
  expect_count 'What installs and removals changed' 0

  # Another cabinet, of one program: the earlier copy's launcher and its
  # shortcut go. Then --remove takes the rest away, the standard folders left.
  python3 -c "import sys, importlib.machinery as m; w = m.SourceFileLoader('w', '$(dirname "$0")/../../tools/cabinet/ce-cab.py').load_module(); w.FILES = w.FILES[:1]; w.LINKS = w.LINKS[:1]; w.main(sys.argv)" \
    "$work/fewer.cab" Zelkoran "$wince/settings/Velloria.exe" || fail "no cabinet made"
  session_options="--arm --install $work/fewer.cab" start
  keys c
  wait_for "$prompt"
  quit
  expect_order 'What installs and removals changed' '^  removed \\Program Files\\Velloria\\Tarquell\.exe$' \
    '^  removed \\Windows\\StartUp\\Tarquell\.lnk$' 'registry during this session'
  expect_text 'the programs after the install' "$(ls "$programs")" Velloria.exe
  run_plain 0 "--remove" '' --device "$device" --remove Velloria
  out_has '^  removed \\Windows\\Start Menu\\Programs\\Velloria\.lnk$'
  [ ! -e "$programs" ] && [ -d "$(dirname "$programs")" ] || fail "--remove left the programs' folder or took \\Program Files"

  # A file that is no cabinet is refused in one line naming it, before anything is written.
  printf 'MSCF' >"$work/bad.cab"
  run_plain 1 "--install of no cabinet" '' --device "$device" --arm --install "$work/bad.cab"
  [ "$(cat "$work/err")" = "device-session: $work/bad.cab: is no cabinet (no MSCF signature)" ] ||
    fail "no one line naming the file: $(cat "$work/err")"

  # Remove Programs from the desktop.
  session_options=--arm start
  keys c
  wait_for "$prompt"
  keys u
  wait_for '^  1  Zelkoran Velloria$'
  keys 1
  wait_for 'Removed Zelkoran Velloria from the device\.'
  quit
  [ ! -e "$programs" ] || fail "the desktop's removal left the programs"
  expect_count '^  removed \\Program Files\\Velloria\\Tarquell\.exe$' 1
}

case_no_rotation() {
  # A soft reset without a rotation: the launcher clears the absent flag,
  # nothing opens.
  start
  soft_reset 1
  expect_nothing_opened
  [ ! -e "$device/device:/Windows/ctlpnl.log" ] || fail "the control panel was started"
  quit
  expect_text 'the list of changes' "$(changes)" 'What changed in the device registry during this session:
  HKEY_CURRENT_USER\SOFTWARE\Zelkoran "align": absent -> 0  (the recalibration flag)'

  # The same device again: close the dialog, restart from the desktop, quit.
  start
  keys c
  wait_for 'Velloria closed without a restart\.'
  wait_for "$prompt"
  # A key the desktop doesn't offer does nothing.
  keys x
  soft_reset 1 2
  expect_count "$prompt" 2
  expect_nothing_opened
  quit
  expect_text 'the list of changes' "$(changes)" 'Nothing changed in the device registry during this session.'
}

# Runs the session without a terminal: keys $3 from stdin, output to
# $work/out and $work/err. Fails, saying $2, unless its exit status is $1.
run_plain() {
  local status=$1 what=$2 input=$3 got
  shift 3
  printf '%s' "$input" | timeout 20 "$session" "$@" >"$work/out" 2>"$work/err"
  got=$?
  [ "$got" -eq "$status" ] || fail "$what (exit status $got, expected $status): $(cat "$work/err")"
}

out_has() {
  grep -qE -- "$1" "$work/out" || { fail "output lacks /$1/"; cat "$work/out" "$work/err" >&2; }
}

case_options() {
  "$session" --help >"$work/out" 2>&1 || fail "--help failed"
  out_has '^Usage: device-session \[--device DIR\] \[--reset\]'

  run_plain 2 "an unknown option" '' --frobnicate
  grep -q -- '--frobnicate' "$work/err" || fail "the unknown option is not named: $(cat "$work/err")"
  run_plain 2 "--device without a folder" '' --device

  # Somebody's folder is not taken for a device, and is left as it was.
  mkdir "$work/papers"
  echo mine >"$work/papers/letter.txt"
  run_plain 1 "a folder of other files taken for a device" q --device "$work/papers"
  grep -q 'not.*device\|no device' "$work/err" || fail "no clear reason: $(cat "$work/err")"
  [ "$(ls "$work/papers")" = letter.txt ] || fail "the folder was changed: $(ls "$work/papers")"
  run_plain 1 "a file taken for a device folder" q --device "$work/papers/letter.txt"

  # A new device, relative path: set up from the default image.
  (cd "$work" && printf 'q' | "$session" --device device >"$work/out" 2>"$work/err") ||
    fail "a new device failed: $(cat "$work/err")"
  out_has "^Emulated device: $work/device \(new, set up from the default image\)"
  out_has '^Nothing changed in the device registry during this session\.'
  [ -f "$device/device:/Windows/StartUp/Tarquell.exe" ] || fail "no Tarquell.exe in the start-up folder"
  [ -x "$device/device:/Windows/StartUp/Tarquell.exe" ] && fail "the start-up Tarquell.exe is runnable on the host"
  cmp -s "$device/device:/Windows/StartUp/Tarquell.exe" "$tarquell" || fail "the start-up Tarquell.exe is not the launcher"
  cp "$device/registry.reg" "$work/default.reg"

  # --reset puts back the registry and the launcher, drops a pending
  # restart, and keeps every other file.
  sed -i 's/"Rotate"=dword:00000000/"Rotate"=dword:00000003/' "$device/registry.reg"
  echo warm >"$device/restart-requested"
  printf '#!/bin/sh\nexit 0\n' >"$device/device:/Windows/StartUp/Tarquell.exe"
  echo keep >"$device/notes.txt"
  echo keep >"$device/device:/Windows/StartUp/readme.txt"
  run_plain 0 "--reset" q --device "$device" --reset
  out_has 'started over from the default image'
  grep -q 'warm start' "$work/out" && fail "the dropped restart was carried out"
  cmp -s "$device/registry.reg" "$work/default.reg" || fail "registry.reg is not the default image"
  cmp -s "$device/device:/Windows/StartUp/Tarquell.exe" "$tarquell" || fail "Tarquell.exe was not installed anew"
  [ ! -e "$device/restart-requested" ] || fail "the restart request is still there"
  [ -e "$device/notes.txt" ] && [ -e "$device/device:/Windows/StartUp/readme.txt" ] &&
    [ -e "$device/device:/Windows/ctlpnl.exe" ] || fail "--reset removed other files"
  out_has '^Nothing changed in the device registry during this session\.'

  # A corrupt registry is left alone, with a way out named.
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\x]\n' >"$device/registry.reg"
  cp "$device/registry.reg" "$work/corrupt.reg"
  run_plain 1 "a corrupt registry not stopping the session" q --device "$device"
  grep -q -- '--reset' "$work/err" || fail "no way out named: $(cat "$work/err")"
  cmp -s "$device/registry.reg" "$work/corrupt.reg" || fail "the corrupt registry was changed"
}

case_start_up() {
  # A restart still due from before the session is carried out first; the
  # start-up programs run by name; a file that is no program, and a script
  # however runnable, is skipped with one line and never run.
  set_up || fail "set-up failed"
  local folder=$device/device:/Windows/StartUp
  printf '#!/bin/sh\necho "aaa ran"\n' >"$folder/aaa.sh"
  chmod +x "$folder/aaa.sh"
  echo text >"$folder/notes.txt"
  printf '#!/bin/sh\necho "Zz ran"\nexit 3\n' >"$folder/Zz.sh"
  chmod +x "$folder/Zz.sh"
  echo warm >"$device/restart-requested"

  run_plain 0 "the session" rq --device "$device"
  grep -q 'ran$' "$work/out" && fail "a script of the start-up folder ran"
  local order
  order=$(grep -E '^(A restart|=== |Starting|aaa ran|Zz ran|Skipped|Could not|Tarquell.exe ended|The device is up|Opening Velloria)' "$work/out")
  local expected='A restart asked for before this session is still due.
=== The device restarts (warm start 1) ===
Skipped \Windows\StartUp\aaa.sh: not a handheld program, not run (error 193).
Skipped \Windows\StartUp\notes.txt: not a handheld program, not run (error 193).
Starting \Windows\StartUp\Tarquell.exe
Tarquell.exe ended; it opened nothing.
Skipped \Windows\StartUp\Zz.sh: not a handheld program, not run (error 193).
The device is up.
Opening Velloria, the settings program...
=== The device restarts (warm start 2) ==='
  expect_text 'the start-up run' "$(printf '%s\n' "$order" | head -10)" "$expected"
  [ ! -e "$device/restart-requested" ] || fail "the restart request is still there"
}

case_lingering_arm() {
  # What a start-up program leaves running is waited for up to 10 s, once:
  # the programs after it don't wait for it again. Handheld programs of our
  # own: aaa.exe starts \Windows\Linger.exe, which runs until its registry
  # key goes.
  set_up || fail "set-up failed"
  local crafted=$wince/tests/arm/crafted
  cp "$crafted/CraftedStartsOneThatLingers.exe" "$device/device:/Windows/StartUp/aaa.exe"
  cp "$crafted/CraftedLingers.exe" "$device/device:/Windows/Linger.exe"
  printf '\n[HKEY_CURRENT_USER\\Software\\Zelkoran\\Linger]\n' >>"$device/registry.reg"
  # A script beside them, as a cabinet could install it, is no program.
  printf '#!/bin/sh\ntouch "%s/ran"\n' "$work" >"$device/device:/Windows/StartUp/zz.exe"
  chmod +x "$device/device:/Windows/StartUp/zz.exe"

  run_plain 0 "the session" rq --arm --device "$device"
  local order expected='Starting \Windows\StartUp\aaa.exe
aaa.exe ended; what it started (Linger.exe) is still running after 10 s and goes on in the background until the next restart or quit.
Starting \Windows\StartUp\Tarquell.lnk, which starts \Program Files\Velloria\Tarquell.exe
Tarquell.exe ended; it opened nothing.
Skipped \Windows\StartUp\zz.exe: not a handheld program, not run (error 193).
The device is up.'
  order=$(sed -n '/warm start 1/,/The device is up/p' "$work/out" | tail -n +2)
  expect_text 'the start-up run' "$order" "$expected"
  [ ! -e "$work/ran" ] || fail "the start-up script ran on the host"
  # The key gone, the lingering program ends (before the device goes).
  sed -i '/Zelkoran\\Linger/d' "$device/registry.reg" && sleep 0.3
}

# Whatever was left in a device folder, the session writes and runs nothing
# outside it, waits on nothing, and says what it refused. One row a plant:
# what, how to plant it (in $d, with $out outside; "set_up" makes a device
# first), the keys and options, the status expected, and a line the output
# must hold.
case_planted() {
  local out=$work/outside d=$device
  newline_named() {
    set_up && cp "$out/escape.sh" "$d/device:/Windows/StartUp/a"$'\n'"b.sh"
  }
  flag_raised() {
    set_up && printf '\n[HKEY_CURRENT_USER\\Software\\Zelkoran]\n"align"=dword:00000001\n' >>"$d/registry.reg"
  }
  # A script, runnable, in a program's place: each way the device starts a
  # program finds it there, and none runs it.
  script_at() {
    cp "$out/escape.sh" "$d/device:/$1" && chmod +x "$d/device:/$1"
  }
  shortcut() {  # the text of a shortcut to the device path $1
    local target="\"$1\""
    printf '%d#%s' "${#target}" "$target"
  }
  local rows=(
    "Windows a link out@ln -s '$out' '$d/device:/Windows'@q@1@Windows is a link"
    "StartUp a link out@mkdir -p '$d/device:/Windows' && ln -s '$out' '$d/device:/Windows/StartUp'@q@1@StartUp is a link"
    "Windows a file@echo x >'$d/device:/Windows'@q@1@Windows is "
    "the launcher a link out, reset@set_up && ln -sf '$out/mine' '$d/device:/Windows/StartUp/Tarquell.exe'@q --reset@0@started over"
    "the request a FIFO@set_up && mkfifo '$d/restart-requested'@q@0@restart-requested is no restart request"
    "a start-up program a link out@set_up && ln -s '$out/escape.sh' '$d/device:/Windows/StartUp/a.exe'@rq@0@Skipped .*a.exe: a link, not a program"
    "a start-up program a FIFO@set_up && mkfifo '$d/device:/Windows/StartUp/a.exe'@rq@0@Skipped .*a.exe: a FIFO, not a program"
    "a start-up program named with a newline@newline_named@rq@0@^Skipped .*a\?b\.sh: not a handheld program"
    "a start-up program a script@set_up && script_at Windows/StartUp/a.exe@rq@0@^Skipped .*a\.exe: not a handheld program"
    "the launcher's copy a script@set_up && script_at Windows/StartUp/Tarquell.exe@rq@0@^Tarquell.exe ended; it opened nothing"
    "a shortcut to a script@set_up && script_at Windows/hi.sh && shortcut '\\Windows\\HI.SH' >'$d/device:/Windows/StartUp/a.lnk'@rq@0@^Skipped .*a.lnk, which starts .*HI.SH: not a handheld program"
    "the control panel's copy a script@flag_raised && script_at Windows/ctlpnl.exe@rq@0@stylus alignment page is open"
    "a planted temporary name blocking the control panel's log@flag_raised && mkdir '$d/device:/Windows/ctlpnl.log.tmp'@rq@0@stylus alignment page is open"
    "a planted temporary name blocking the registry@flag_raised && mkdir '$d/registry.reg.tmp'@rq@0@\"align\": 1 -> 0"
    "a start-up program named with terminal escapes@set_up && touch \"$d/device:/Windows/StartUp/x\$(printf '\\033]0;owned\\007\\033[2J')\"@rq@0@^Skipped .*x.\\]0;owned..\\[2J: not a handheld program"
    "a malformed shortcut@set_up && printf '%s' '9#\"\\Windows\\ctlpnl.exe\"' >'$d/device:/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a malformed shortcut"
    "a shortcut out of the device@set_up && shortcut '\\..\\escape.sh' >'$d/device:/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a shortcut whose target leaves the device"
    "a shortcut through a linked folder@set_up && ln -s '$out' '$d/device:/Windows/out' && shortcut '\\Windows\\out\\escape.sh' >'$d/device:/Windows/StartUp/a.lnk'@rq@0@a.lnk: a shortcut to .*escape.sh, whose folder is missing or not the device's own"
    "a shortcut to a link out@set_up && ln -s '$out/escape.sh' '$d/device:/Windows/e.sh' && shortcut '\\Windows\\e.sh' >'$d/device:/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a shortcut to a link, not a program"
    "a shortcut to a FIFO@set_up && mkfifo '$d/device:/Windows/f' && shortcut '\\Windows\\f' >'$d/device:/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a shortcut to a FIFO, not a program"
    "a shortcut that is a link out@set_up && ln -s '$out/escape.sh' '$d/device:/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a link, not a shortcut file\.$"
    "a copy left by a crash in StartUp@set_up && cp '$out/escape.sh' '$d/device:/Windows/StartUp/Tarquell.exe.tmp'@rq@0@^Tarquell.exe ended"
    "the control panel's log a link out@flag_raised && ln -s '$out/mine' '$d/device:/Windows/ctlpnl.log'@rq@0@stylus alignment page is open"
    "the control panel's log a FIFO@flag_raised && mkfifo '$d/device:/Windows/ctlpnl.log'@rq@0@stylus alignment page is open"
    "the control panel's log a hard link out@flag_raised && ln '$out/mine' '$d/device:/Windows/ctlpnl.log'@rq@0@stylus alignment page is open"
  )
  printf '#!/bin/sh\nsleep 0.3\n' >"$work/late"
  chmod +x "$work/late"
  local row what plant keys status line
  for row in "${rows[@]}"; do
    IFS='@' read -r what plant keys status line <<<"$row"
    rm -rf "$d" "$out"
    mkdir -p "$d/device:" "$out"
    echo mine >"$out/mine"
    printf '#!/bin/sh\ntouch "%s/ran"\n' "$out" >"$out/escape.sh"
    chmod +x "$out/escape.sh"
    eval "$plant" || fail "$what: cannot plant it"
    # shellcheck disable=SC2086
    run_plain "$status" "$what" "${keys%% *}" --device "$d" ${keys#"${keys%% *}"}
    grep -qE -- "$line" "$work/out" "$work/err" || fail "$what: no /$line/ in: $(cat "$work/out" "$work/err")"
    [ "$(ls -A "$out" | tr '\n' ' ')" = "escape.sh mine " ] && [ "$(cat "$out/mine")" = mine ] ||
      fail "$what: something outside was written: $(ls -A "$out")"
    # C0 and DEL, C1 as UTF-8 writes it (CSI is \302\233), and the
    # bidirectional formats and separators (U+061C, U+200E-F, U+2028-E, U+2066-9).
    ! LC_ALL=C grep -qE "$(printf '[\001-\010\013-\037\177]|\302[\200-\237]|\330\234|\342\200[\216\217\250-\256]|\342\201[\246-\251]')" "$work/out" "$work/err" ||
      fail "$what: a control character reached the terminal: $(cat -v "$work/out" "$work/err")"
  done
}

# The processes the program in_pane started last, and what those started,
# still running: each carries its tag in its environment.
tag=
tagged_pids() {
  local each
  [ -n "$tag" ] || return 0
  for each in /proc/[0-9]*/environ; do
    grep -qaF "ZK_SESSION_TEST=$tag" "$each" 2>/dev/null && { each=${each#/proc/}; echo "${each%/environ}"; }
  done
}

# Runs "$@" in a new 100x30 (or $cols x $rows) terminal, noting the terminal's
# modes before and after, the program's pid and its exit status, then
# "[given back]".
in_pane() {
  rm -f "$work/pid" "$work/status" "$work/before" "$work/after"
  tag=$$-$starts.
  {
    printf 'stty -g >"%s/before"\n' "$work"
    printf 'env --default-signal=INT,QUIT ZK_SESSION_TEST=%s' "$tag"
    printf ' %q' "$@"
    printf ' </dev/tty & echo $! >"%s/pid"; wait $!; echo $? >"%s/status"\n' "$work" "$work"
    printf 'stty -g >"%s/after"; printf "\\n[given back]\\n"; exec sleep 60\n' "$work"
  } >"$work/pane.sh"
  new_pane "bash '$work/pane.sh'"
}

# Alternate screen, cursor shown, mouse reporting (any, standard, button),
# keypad mode.
screen_modes() {
  tmux -S "$socket" display -p -t zk \
    '#{alternate_on}#{cursor_flag}#{mouse_any_flag}#{mouse_standard_flag}#{mouse_button_flag}#{keypad_cursor_flag}'
}

# However Velloria or the session ends, the terminal is given back whole,
# and nothing the program started is left running. One row a way out: what,
# the program, then what is done: a key, a signal (in capitals) sent to the
# program, /text to wait for on the screen (/3xtext: for the third line of
# it), +N to let N seconds pass, =N to find N processes of the row's running
# (the program among them), !name to call the step function step_name; lines the screen must show after (a reason told
# once the terminal is back), joined by " && ", and the program's exit
# status.
host_terminal_rows=(
  "Velloria closed|$velloria|c"
  "Velloria hung up|$velloria|HUP"
  "Velloria hung up on a vt100|env TERM=vt100 $velloria|HUP"
  "Velloria quit|$velloria|QUIT"
  "Velloria terminated|$velloria|TERM"
  "Velloria interrupted|$velloria|INT"
  "the session quit|$session --device $device|c q"
  "the session hung up|$session --device $device|HUP"
  "the session quit by signal|$session --device $device|QUIT"
  "the session terminated|$session --device $device|TERM"
  "the session interrupted|$session --device $device|INT"
  "the session terminated at its desktop|$session --device $device|c TERM"
)
# The same for an ARM program of our own (tests/arm/crafted) on the emulated
# StrongARM, a start-up program of an --arm session among them.
crafted=${wince:+$wince/tests/arm/crafted/CraftedDialogs.exe}
armemu=${ARMEMU:-}  # from the test's environment
endless=$work/endless  # a device whose start-up program never ends
late=$work/late  # one whose start-up program opens its dialog when told
step_late_dialog() {
  sed -i 's/"late"=dword:00000001/"late"=dword:00000000/' "$late/registry.reg"
}
step_prompt_shown() {
  [ "$(screen_modes)" = 010000 ] && screen | grep -v '^$' | tail -1 | grep -qx '> *' ||
    { fail "$what: the prompt is not what the terminal shows"; show_screen; }
}
arm_terminal_rows=(
  "a fault in an ARM dialog procedure|$armemu $crafted|/Crafted f|armemu: .*write to 0x100"
  "ARM callbacks nested too deeply|$armemu $crafted|/Crafted d|armemu: .*callbacks nested too deeply"
  "ARM modal dialogs nested, closed one by one|$armemu $crafted|/Crafted n n c c c||2"
  "an ARM dialog's owner told to close by the dialog it opened|$armemu $crafted|/Crafted o c||2"
  "a fault in a nested ARM dialog's procedure|$armemu $crafted|/Crafted n n f|armemu: .*write to 0x100"
  "a save refused under a nested ARM dialog, told once the terminal is back|env CE_DEVICE_ROOT=$work/unsaved $armemu $crafted|/Crafted s n c c|^ce-device: .*registry\\.reg"
  "an ARM button made 2^30 cells wide|$armemu $crafted|/Crafted w c"
  "a fault in an ARM start-up program's dialog, in a session|$session --arm --device $device|r /Crafted f /^> q|crafted.exe ended with exit status 70"
  "an ARM start-up program's dialog up past 10 s, Velloria opened only once it closed|$work/pending $session --arm --device $device|/Crafted +12 Escape /soft.reset c /^> q|^crafted.exe ended with exit status 2; it opened nothing\.$ && ^Opening Velloria|0"
  "the session terminated under an ARM start-up program's dialog|$session --arm --device $device|r /Crafted TERM||143"
  "an endless ARM start-up program without a window, ended by each restart and by quit|$session --arm --device $endless|r /^> =2 r /2xstill.running /2x^> =2 q|^endless.exe is still running after 10 s; it goes on in the background until the next restart or quit\.$ && ^Tarquell.exe ended; it opened nothing\.$|0"
  "the session terminated with an endless ARM program in the background|$session --arm --device $endless|r /^> TERM||143"
  "a background ARM program's dialog kept waiting while the session's prompt is up|$session --arm --device $late|r /^> !late_dialog +2 !prompt_shown q|^late.exe is still running after 10 s|0"
  "a pipeline around a session with an endless ARM program|$work/piped $session --arm --device $endless|/^> r /2x^> q|^endless.exe is still running after 10 s|0"
  "an ARM start-up program asking for a restart each time, in a session|$session --arm --device $work/resetting|r /^> q|StartUp.reset.exe asked for a restart again, after 3 in a row with no key pressed"
)

case_terminal() {
  terminal_rows "${host_terminal_rows[@]}"
  terminal_given_back
}

case_terminal_arm() {
  set_up || fail "set-up failed"
  cp "$crafted" "$device/device:/Windows/StartUp/crafted.exe"
  # No temporary file can be made: no private area, and a folder where one
  # would be made beside the registry.
  mkdir -p "$work/unsaved/registry.reg.tmp/kept" && echo x >"$work/unsaved/emulator:"
  # A device of the earlier layout, moved to the new one as the session starts.
  mkdir -p "$endless/Windows/StartUp"
  cp "$wince/tests/arm/crafted/CraftedEndless.exe" "$endless/Windows/StartUp/endless.exe"
  mkdir -p "$late" && printf q | "$session" --device "$late" >/dev/null 2>&1 &&
    printf '\n[HKEY_CURRENT_USER\\Software\\Crafted]\n"late"=dword:00000001\n' >>"$late/registry.reg" &&
    cp "$crafted" "$late/device:/Windows/StartUp/late.exe" || fail "the late device can't be set up"
  # A restart due when the session starts; the session's output piped on.
  printf '#!/bin/sh\necho warm >"%s/restart-requested"\nexec "$@"\n' "$device" >"$work/pending"
  printf '#!/usr/bin/env bash\n"$@" | tee "%s/piped.log"\n' "$work" >"$work/piped"
  chmod +x "$work/pending" "$work/piped"
  mkdir -p "$work/resetting" && printf q | "$session" --device "$work/resetting" >/dev/null 2>&1
  cp "$wince/tests/arm/crafted/CraftedReset.exe" "$work/resetting/device:/Windows/StartUp/reset.exe"
  patience=25 terminal_rows "${arm_terminal_rows[@]}"
  # Velloria's restart and the start-up program's, each told as its own; the
  # restarts in a row stop after three, and nothing said they failed.
  expect_order 'Velloria asked for a restart' 'warm start 1' 'reset.exe stopped at its restart' \
    'reset.exe asked for a restart \(soft reset\)' 'warm start 2' 'warm start 3' 'after 3 in a row' 'The device is up'
  expect_count 'warm start 4' 0
  expect_count 'ended with exit status 75' 0
}

terminal_rows() {
  local row what command steps after status step pid child line
  export CE_DEVICE_ROOT=$device
  for row in "$@"; do
    IFS='|' read -r what command steps after status <<<"$row"
    # shellcheck disable=SC2086
    in_pane $command
    [[ $steps == /* ]] || wait_for "$dialog"
    for _ in {1..100}; do [ -s "$work/pid" ] && break; sleep 0.05; done
    pid=$(cat "$work/pid")
    child=$(pgrep -P "$pid" | head -1)
    for step in $steps; do
      if [[ $step =~ ^/([0-9]+)x(.*)$ ]]; then
        wait_for "${BASH_REMATCH[2]}" "${BASH_REMATCH[1]}"
      elif [[ $step == /* ]]; then
        wait_for "${step#/}"
      elif [[ $step =~ ^\+([0-9]+)$ ]]; then
        sleep "${BASH_REMATCH[1]}"
      elif [[ $step == !* ]]; then
        "step_${step#!}"
      elif [[ $step =~ ^=([0-9]+)$ ]]; then
        [ "$(tagged_pids | wc -l)" -eq "${BASH_REMATCH[1]}" ] ||
          fail "$what: $(tagged_pids | wc -l) of its processes running, not ${BASH_REMATCH[1]}"
      elif [[ $step =~ ^[A-Z]+$ ]]; then
        kill -"$step" "$pid"
      else
        keys "$step"
        [ "$step" = c ] && [ -n "$child" ] && wait_for "$prompt"
      fi
    done
    wait_for '^\[given back\]$'
    [ "$(screen_modes)" = 010000 ] || fail "$what: the screen's modes are $(screen_modes), not 010000"
    [ "$(count '\$<[0-9]')" = 0 ] || fail "$what: a terminfo delay was written out as text"
    cmp -s "$work/before" "$work/after" || fail "$what: the terminal's modes changed"
    [ -n "$child" ] && kill -0 "$child" 2>/dev/null && fail "$what: Velloria is still running"
    [ -z "$(tagged_pids)" ] || fail "$what: left running: $(tagged_pids | tr '\n' ' ')"
    while [ -n "$after" ]; do
      line=${after%% && *}
      [ "$line" = "$after" ] && after= || after=${after#* && }
      [ "$(count "$line")" -ge 1 ] || { fail "$what: no /$line/ on the screen"; show_screen; }
    done
    [ -z "$status" ] || [ "$(cat "$work/status")" = "$status" ] ||
      fail "$what: exit status $(cat "$work/status"), expected $status"
  done
}

terminal_given_back() {
  # A terminal that can't show the dialog says so, and a save that fails
  # while the dialog is up is told once the screen is given back.
  in_pane env TERM=dumb "$velloria"
  wait_for "TERM=dumb.*can't place the cursor"
  cols=40 rows=12 in_pane "$velloria"
  wait_for '"Velloria" needs [0-9]+x[0-9]+'
  keys Escape
  wait_for '^\[given back\]$'
  in_pane "$velloria"
  wait_for "$dialog"
  # No temporary file can be made: no private area, and a folder where one
  # would be made beside the registry.
  rm -rf "$device/emulator:" && echo x >"$device/emulator:" && mkdir -p "$device/registry.reg.tmp/kept"
  keys BTab BTab Enter
  sleep 0.5
  expect_count 'ce-device' 0
  keys c
  wait_for '^\[given back\]$'
  wait_for '^ce-device: .*registry\.reg'
}

"case_${case_name//-/_}"
if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "ok: $case_name"
