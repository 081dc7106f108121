#!/usr/bin/env bash
# The device session driven as a person drives it: keys into a terminal
# (tmux), the screen read back. Each wait polls the screen with a deadline.
#
#   session_test.sh <case> <device-session> <Tarquell> <Velloria> [<wince build>]
#   cases: rotate, rotate-arm, no-rotation, options, start-up, lingering, planted, terminal,
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
  [ -s "$work/lingering.pid" ] && kill "$(cat "$work/lingering.pid")" 2>/dev/null
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
  local pattern=$1 wanted=${2:-1} deadline=$((SECONDS + 10))
  while [ "$SECONDS" -lt "$deadline" ]; do
    [ "$(count "$pattern" "${3:-}")" -ge "$wanted" ] && return 0
    sleep 0.05
  done
  fail "no ${wanted}x /$pattern/ ${3:-on the screen} within 10 s"
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
  expect_order 'Velloria asked for a restart' 'warm start 1' "Starting \\\\Windows\\\\StartUp\\\\${startup_entry:-Tarquell.exe}" \
    "$notice" 'Tarquell.exe ended; it opened ctlpnl\.exe\.' 'The device is up\.' "$prompt"
  expect_text ctlpnl.log "$(cat "$device/Windows/ctlpnl.log" 2>&1)" cplmain.cpl,7
  [ ! -e "$device/restart-requested" ] || fail "the restart request was not taken"

  soft_reset 2 2
  expect_count "$notice" 1
  expect_count 'Tarquell.exe ended; it opened nothing\.' 1
  expect_order 'warm start 2' 'Tarquell.exe ended; it opened nothing\.'
  [ "$(wc -l <"$device/Windows/ctlpnl.log")" -eq 1 ] || fail "the control panel opened again"

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
  local lnk='38#"\Program Files\Velloria\' programs="$device/Program Files/Velloria"
  session_options=--arm startup_entry='Tarquell.lnk, which starts \\Program Files\\Velloria\\Tarquell.exe' case_rotate
  [ "$failures" -eq 0 ] || return
  expect_count 'Installed .*/Velloria.cab on the device\.' 1
  expect_count '^  added \\Program Files\\Velloria\\Velloria\.exe$' 1
  cmp -s "$programs/Velloria.exe" "$wince/settings/Velloria.exe" || fail "Velloria.exe is not the build's"
  cmp -s "$programs/Tarquell.exe" "$wince/launcher/Tarquell.exe" || fail "Tarquell.exe is not the build's"
  expect_text "the Start menu's shortcut" "$(cat "$device/Windows/Start Menu/Programs/Velloria.lnk")" "${lnk}Velloria.exe\""
  expect_text 'the start-up shortcut' "$(cat "$device/Windows/StartUp/Tarquell.lnk")" "${lnk}Tarquell.exe\""
  expect_text 'the start-up folder' "$(ls "$device/Windows/StartUp")" Tarquell.lnk

  # The desktop opens Velloria through its shortcut: a broken one opens nothing.
  session_options=--arm start
  keys c
  wait_for "$prompt"
  printf '9#"\\x.exe"' >"$device/Windows/Start Menu/Programs/Velloria.lnk"
  keys s
  wait_for 'Velloria could not be opened: .*Velloria.lnk is a malformed shortcut'
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
  python3 -c "import sys, importlib.machinery as m; w = m.SourceFileLoader('w', '$(dirname "$0")/../../platform/wince/ce-cab.py').load_module(); w.FILES = w.FILES[:1]; w.LINKS = w.LINKS[:1]; w.main(sys.argv)" \
    "$work/fewer.cab" "$(dirname "$0")/../../launcher/Tarquell.rc" "$wince/settings/Velloria.exe" || fail "no cabinet made"
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
  [ ! -e "$device/Windows/ctlpnl.log" ] || fail "the control panel was started"
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
  [ -x "$device/Windows/StartUp/Tarquell.exe" ] || fail "no Tarquell.exe in the start-up folder"
  cmp -s "$device/Windows/StartUp/Tarquell.exe" "$tarquell" || fail "the start-up Tarquell.exe is not the launcher"
  cp "$device/registry.reg" "$work/default.reg"

  # --reset puts back the registry and the launcher, drops a pending
  # restart, and keeps every other file.
  sed -i 's/"Rotate"=dword:00000000/"Rotate"=dword:00000003/' "$device/registry.reg"
  echo warm >"$device/restart-requested"
  printf '#!/bin/sh\nexit 0\n' >"$device/Windows/StartUp/Tarquell.exe"
  echo keep >"$device/notes.txt"
  echo keep >"$device/Windows/StartUp/readme.txt"
  run_plain 0 "--reset" q --device "$device" --reset
  out_has 'started over from the default image'
  grep -q 'warm start' "$work/out" && fail "the dropped restart was carried out"
  cmp -s "$device/registry.reg" "$work/default.reg" || fail "registry.reg is not the default image"
  cmp -s "$device/Windows/StartUp/Tarquell.exe" "$tarquell" || fail "Tarquell.exe was not installed anew"
  [ ! -e "$device/restart-requested" ] || fail "the restart request is still there"
  [ -e "$device/notes.txt" ] && [ -e "$device/Windows/StartUp/readme.txt" ] &&
    [ -e "$device/Windows/ctlpnl.exe" ] || fail "--reset removed other files"
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
  # start-up programs run by name, a file that is no program is skipped, and
  # what a start-up program leaves running is waited for.
  set_up || fail "set-up failed"
  local folder=$device/Windows/StartUp
  printf '#!/bin/sh\nsleep 0.3\necho "late child done"\n' >"$work/late"
  printf '#!/bin/sh\n"%s" &\necho "aaa ran"\n' "$work/late" >"$folder/aaa.sh"
  chmod +x "$work/late" "$folder/aaa.sh"
  echo text >"$folder/notes.txt"
  printf '#!/bin/sh\nexit 3\n' >"$folder/Zz.sh"
  chmod +x "$folder/Zz.sh"
  echo warm >"$device/restart-requested"

  run_plain 0 "the session" rq --device "$device"
  grep -q '^late child done$' "$work/out" || fail "no output of the late child"
  local order
  order=$(grep -E '^(A restart|=== |Starting|aaa ran|late child|aaa.sh ended|Skipped|Tarquell.exe ended|Zz.sh ended|The device is up|Opening Velloria)' "$work/out")
  local expected='A restart asked for before this session is still due.
=== The device restarts (warm start 1) ===
Starting \Windows\StartUp\aaa.sh
aaa ran
late child done
aaa.sh ended; it opened late.
Skipped \Windows\StartUp\notes.txt: not a program.
Starting \Windows\StartUp\Tarquell.exe
Tarquell.exe ended; it opened nothing.
Starting \Windows\StartUp\Zz.sh
Zz.sh ended with exit status 3; it opened nothing.
The device is up.
Opening Velloria, the settings program...
=== The device restarts (warm start 2) ==='
  expect_text 'the start-up run' "$(printf '%s\n' "$order" | head -14)" "$expected"
  [ ! -e "$device/restart-requested" ] || fail "the restart request is still there"
}

case_lingering() {
  # What a start-up program leaves running is waited for up to 10 s, once:
  # the programs after it don't wait for it again.
  set_up || fail "set-up failed"
  printf '#!/bin/sh\necho $$ >"%s"\nexec sleep 120\n' "$work/lingering.pid" >"$work/linger"
  printf '#!/bin/sh\n"%s" &\n' "$work/linger" >"$device/Windows/StartUp/aaa.sh"
  chmod +x "$work/linger" "$device/Windows/StartUp/aaa.sh"

  run_plain 0 "the session" rq --device "$device"
  local order expected='Starting \Windows\StartUp\aaa.sh
aaa.sh ended; it opened nothing; something it started is still running after 10 s, and the device goes on.
Starting \Windows\StartUp\Tarquell.exe
Tarquell.exe ended; it opened nothing.
The device is up.'
  order=$(sed -n '/warm start 1/,/The device is up/p' "$work/out" | tail -n +2)
  expect_text 'the start-up run' "$order" "$expected"
  kill -0 "$(cat "$work/lingering.pid")" 2>/dev/null || fail "the lingering program is gone"
}

# Whatever was left in a device folder, the session writes and runs nothing
# outside it, waits on nothing, and says what it refused. One row a plant:
# what, how to plant it (in $d, with $out outside; "set_up" makes a device
# first), the keys and options, the status expected, and a line the output
# must hold.
case_planted() {
  local out=$work/outside d=$device
  newline_named() {
    set_up && printf '#!/bin/sh\n"%s" &\n' "$work/late" >"$d/Windows/StartUp/a"$'\n'"b.sh" &&
      chmod +x "$d/Windows/StartUp/a"$'\n'"b.sh"
  }
  flag_raised() {
    set_up && printf '\n[HKEY_CURRENT_USER\\Software\\Zelkoran]\n"align"=dword:00000001\n' >>"$d/registry.reg"
  }
  # A start-up program doing what it likes with what the device holds.
  starting() {
    set_up && printf '#!/usr/bin/env bash\n%s\n' "$1" >"$d/Windows/StartUp/a.sh" && chmod +x "$d/Windows/StartUp/a.sh"
  }
  # What a program of the device may hand the terminal: escapes in the
  # control panel's command line, and in a registry value's key, name and
  # data (CSI as one character among them).
  escaping_panel() {
    starting "'$d/Windows/ctlpnl.exe' \"\$(printf 'x\\033]0;owned\\007\\033[2J')\""
  }
  escaping_value() {
    printf '\n[HKEY_CURRENT_USER\\Software\\Zel\033]0;owned\007]\n"na\033[2Jme"="da\033]0;x\007t\302\233a"\n' \
      >"$work/escapes.reg" && starting "cat '$work/escapes.reg' >>'$d/registry.reg'"
  }
  # The stand-in control panel run where its path is past the kernel's
  # limit, from a folder outside the device.
  deep_panel() {
    local long i
    long=$(printf 'd%.0s' {1..200})
    set_up && mkdir "$d/deep" &&
      (cd "$d/deep" && for i in {1..25}; do mkdir "$long" && cd "$long" || exit 1; done &&
        cp "$d/Windows/ctlpnl.exe" .) &&
      starting "cd '$d/deep' && for i in \$(seq 25); do cd '$long'; done &&
exec 3<ctlpnl.exe && cd '$out' && /proc/self/fd/3 cplmain.cpl,7"
  }
  shortcut() {  # the text of a shortcut to the device path $1
    local target="\"$1\""
    printf '%d#%s' "${#target}" "$target"
  }
  local rows=(
    "Windows a link out@ln -s '$out' '$d/Windows'@q@1@Windows is a link"
    "StartUp a link out@mkdir -p '$d/Windows' && ln -s '$out' '$d/Windows/StartUp'@q@1@StartUp is a link"
    "Windows a file@echo x >'$d/Windows'@q@1@Windows is "
    "the launcher a link out, reset@set_up && ln -sf '$out/mine' '$d/Windows/StartUp/Tarquell.exe'@q --reset@0@started over"
    "the request a FIFO@set_up && mkfifo '$d/restart-requested'@q@0@restart-requested is no restart request"
    "a start-up program a link out@set_up && ln -s '$out/escape.sh' '$d/Windows/StartUp/a.exe'@rq@0@Skipped .*a.exe: a link, not a program"
    "a start-up program a FIFO@set_up && mkfifo '$d/Windows/StartUp/a.exe'@rq@0@Skipped .*a.exe: a FIFO, not a program"
    "a start-up program named with a newline@newline_named@rq@0@^a\?b\.sh ended; it opened late\.$"
    "a shortcut to a program@set_up && printf '#!/bin/sh\\necho ran by its shortcut\\n' >'$d/Windows/hi.sh' && chmod +x '$d/Windows/hi.sh' && shortcut '\\Windows\\HI.SH' >'$d/Windows/StartUp/a.lnk'@rq@0@^ran by its shortcut$"
    "a malformed shortcut@set_up && printf '%s' '9#\"\\Windows\\ctlpnl.exe\"' >'$d/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a malformed shortcut"
    "a shortcut out of the device@set_up && shortcut '\\..\\escape.sh' >'$d/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a shortcut whose target leaves the device"
    "a shortcut through a linked folder@set_up && ln -s '$out' '$d/Windows/out' && shortcut '\\Windows\\out\\escape.sh' >'$d/Windows/StartUp/a.lnk'@rq@0@a.lnk: a shortcut to .*escape.sh, whose folder is missing or not the device's own"
    "a shortcut to a link out@set_up && ln -s '$out/escape.sh' '$d/Windows/e.sh' && shortcut '\\Windows\\e.sh' >'$d/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a shortcut to a link, not a program"
    "a shortcut to a FIFO@set_up && mkfifo '$d/Windows/f' && shortcut '\\Windows\\f' >'$d/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: a shortcut to a FIFO, not a program"
    "a shortcut that is a link out@set_up && ln -s '$out/escape.sh' '$d/Windows/StartUp/a.lnk'@rq@0@Skipped .*a.lnk: not a shortcut file"
    "a copy left by a crash in StartUp@set_up && cp '$out/escape.sh' '$d/Windows/StartUp/Tarquell.exe.tmp'@rq@0@^Tarquell.exe ended"
    "the control panel's log a link out@flag_raised && ln -s '$out/mine' '$d/Windows/ctlpnl.log'@rq@0@stylus alignment page is open"
    "the control panel's log a FIFO@flag_raised && mkfifo '$d/Windows/ctlpnl.log'@rq@0@stylus alignment page is open"
    "the control panel's log a hard link out@flag_raised && ln '$out/mine' '$d/Windows/ctlpnl.log'@rq@0@stylus alignment page is open"
    "the control panel unable to tell its own folder@deep_panel@rq@0@cannot tell the folder it is in"
    "the control panel given terminal escapes@escaping_panel@rq@0@no applet \"x.\\]0;owned..\\[2J\""
    "a registry value with terminal escapes@escaping_value@rq@0@Zel.\\]0;owned. \"na.\\[2Jme\": absent -> \"da.\\]0;x.t.a\""
  )
  printf '#!/bin/sh\nsleep 0.3\n' >"$work/late"
  chmod +x "$work/late"
  local row what plant keys status line
  for row in "${rows[@]}"; do
    IFS='@' read -r what plant keys status line <<<"$row"
    rm -rf "$d" "$out"
    mkdir -p "$d" "$out"
    echo mine >"$out/mine"
    printf '#!/bin/sh\ntouch "%s/ran"\n' "$out" >"$out/escape.sh"
    chmod +x "$out/escape.sh"
    eval "$plant" || fail "$what: cannot plant it"
    # shellcheck disable=SC2086
    run_plain "$status" "$what" "${keys%% *}" --device "$d" ${keys#"${keys%% *}"}
    grep -qE -- "$line" "$work/out" "$work/err" || fail "$what: no /$line/ in: $(cat "$work/out" "$work/err")"
    [ "$(ls -A "$out" | tr '\n' ' ')" = "escape.sh mine " ] && [ "$(cat "$out/mine")" = mine ] ||
      fail "$what: something outside was written: $(ls -A "$out")"
    # C0 and DEL, and C1 as UTF-8 writes it (CSI is \302\233).
    ! LC_ALL=C grep -qE "$(printf '[\001-\010\013-\037\177]|\302[\200-\237]')" "$work/out" "$work/err" ||
      fail "$what: a control character reached the terminal: $(cat -v "$work/out" "$work/err")"
  done
}

# Runs "$@" in a new 100x30 (or $cols x $rows) terminal, noting the terminal's
# modes before and after, the program's pid and its exit status, then
# "[given back]".
in_pane() {
  rm -f "$work/pid" "$work/status" "$work/before" "$work/after"
  {
    printf 'stty -g >"%s/before"\n' "$work"
    printf 'env --default-signal=INT,QUIT'
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
# and a session that is ended ends the Velloria it started. One row a way
# out: what, the program, then what is done: a key, a signal (in capitals)
# sent to the program, or /text to wait for on the screen; a line the
# screen must show after (a reason told once the terminal is back), and the
# program's exit status.
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
arm_terminal_rows=(
  "a fault in an ARM dialog procedure|$armemu $crafted|/Crafted f|armemu: .*write to 0x100"
  "ARM callbacks nested too deeply|$armemu $crafted|/Crafted d|armemu: .*callbacks nested too deeply"
  "ARM modal dialogs nested, closed one by one|$armemu $crafted|/Crafted n n c c c||2"
  "an ARM dialog's owner told to close by the dialog it opened|$armemu $crafted|/Crafted o c||2"
  "a fault in a nested ARM dialog's procedure|$armemu $crafted|/Crafted n n f|armemu: .*write to 0x100"
  "a save refused under a nested ARM dialog, told once the terminal is back|env CE_DEVICE_ROOT=$work/unsaved $armemu $crafted|/Crafted s n c c|^ce-device: .*registry\\.reg"
  "an ARM button made 2^30 cells wide|$armemu $crafted|/Crafted w c"
  "a fault in an ARM start-up program's dialog, in a session|$session --arm --device $device|r /Crafted f /^> q|crafted.exe ended with exit status 70"
)

case_terminal() {
  terminal_rows "${host_terminal_rows[@]}"
  terminal_given_back
}

case_terminal_arm() {
  set_up || fail "set-up failed"
  cp "$crafted" "$device/Windows/StartUp/crafted.exe"
  mkdir -p "$work/unsaved/registry.reg.tmp/kept"  # no temporary file can be made
  terminal_rows "${arm_terminal_rows[@]}"
}

terminal_rows() {
  local row what command steps after status step pid child
  export CE_DEVICE_ROOT=$device
  for row in "$@"; do
    IFS='|' read -r what command steps after status <<<"$row"
    # shellcheck disable=SC2086
    in_pane $command
    [[ $steps == /* ]] || wait_for "$dialog"
    pid=$(cat "$work/pid")
    child=$(pgrep -P "$pid" | head -1)
    for step in $steps; do
      if [[ $step == /* ]]; then
        wait_for "${step#/}"
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
    [ -z "$after" ] || [ "$(count "$after")" -ge 1 ] || { fail "$what: no /$after/ on the screen"; show_screen; }
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
  mkdir -p "$device/registry.reg.tmp/kept"  # no temporary file can be made
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
