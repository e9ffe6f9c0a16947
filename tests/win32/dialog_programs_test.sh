#!/usr/bin/env bash
# Orvel.exe and Orvelin.exe on the simulator, driven as an operator would:
# mouse presses at points of the window, made by the X server (xdotool), so
# that Wine's hit-testing, stacking and enabled states count; the state is
# read back through window messages (dialog_probe.exe). Screenshots of the
# selection page, of a running update held at its erase step on the virtual
# clock (scenario option hold=erase) and of the result page, in both
# languages, go to SHOT_DIR.
#   dialog_programs_test.sh BUILD_DIR SHOT_DIR
# Needs DISPLAY (tools/with-xvfb.sh gives it an X server of its own) and
# ORVEL_WINEPREFIX (tools/wine-prefix.sh).
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
shots="$2"
mkdir -p "$shots"
rm -f "$shots"/*.png
if [ -z "${DISPLAY:-}" ]; then
  echo "dialog_programs_test: no DISPLAY (run it through tools/with-xvfb.sh)" >&2
  exit 1
fi
started=()  # the programs this test started, ended when it ends
trap 'kill "${started[@]}" 2> /dev/null' EXIT
source "$here/../../tools/wine-env.sh" "$ORVEL_WINEPREFIX"
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export ORVEL_SIM_FAST=1  # pauses on the virtual clock: the update itself takes no wall time
probe_exe="$build/tests/win32/dialog_probe.exe"
cli_exe="$build/cli/orvel-cli.exe"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# One probe process for the whole test, asked line by line (words separated by tabs).
coproc PROBE { "$ORVEL_WINE" "$probe_exe" serve 2>&1; }
probe() {
  local IFS=$'\t' line status=1
  printf '%s\n' "$*" >&"${PROBE[1]}"
  while IFS= read -r line <&"${PROBE[0]}"; do
    if [[ $line == "--end "* ]]; then
      status="${line#--end }"
      break
    fi
    printf '%s\n' "$line"
  done
  return "$status"
}
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The last state read (probe wait): one line per control (see dialog_probe.cpp).
state=""
line_of() { grep -m1 "^id=$1 " <<< "$state"; }
field() { line_of "$1" | sed -n "s/.* $2=\([^ ]*\).*/\1/p"; }
text_of() { line_of "$1" | sed -n 's/.* text=//p'; }
window_field() { head -1 <<< "$state" | sed -n "s/^\(.* \)\{0,1\}$1=\([^ ]*\).*/\2/p"; }
expect() {  # expect WHAT ACTUAL WANTED
  [ "$2" = "$3" ] || fail "$1: \"$2\", expected \"$3\""
}
expect_contains() {
  case "$2" in *"$3"*) ;; *) fail "$1: \"$2\" does not contain \"$3\"" ;; esac
}

# A press and release of the left button at the middle of control ID (or at X Y).
click() {
  local x y
  if [ $# -eq 1 ]; then
    local r
    r="$(field "$1" rect)"
    IFS=, read -r l t rr b <<< "$r"
    x=$(((l + rr) / 2))
    y=$(((t + b) / 2))
  else
    x=$1
    y=$2
  fi
  xdotool mousemove "$x" "$y" click 1
}

# The dialog as the X server shows it, cut to the window.
screenshot() {
  local r
  r="$(window_field rect)"
  IFS=, read -r l t rr b <<< "$r"
  import -window root -crop "$((rr - l))x$((b - t))+$l+$t" +repage "$shots/$1.png" || fail "screenshot $1"
}

# The index of ITEM among a combo box's items.
item_index() {
  local i=0
  IFS='|' read -ra items <<< "$(field "$1" items)"
  for item in "${items[@]}"; do
    [ "$item" = "$2" ] && { echo "$i"; return; }
    i=$((i + 1))
  done
  echo -1
}

# One program from start to the result page.
#   run_program EXE TITLE LANGUAGE SHOT_PREFIX
run_program() {
  local exe="$1" title="$2" lang="$3" prefix="$4"
  local work="$build/dialog-work/$title"
  rm -rf "$work"
  mkdir -p "$work"
  "$ORVEL_WINE" "$cli_exe" make-samples "$(winpath "$work")" > /dev/null || fail "$title: no sample files"

  "$ORVEL_WINE" "$exe" --simulate=default,hold=erase -C "$(winpath "$work")" &
  local pid=$!
  started+=("$pid")
  state="$(probe wait "$title" main)" || { fail "$title: no dialog"; kill "$pid"; return; }

  # Start-up: English, the focus on Close, the files sorted with the first chosen.
  expect "$title caption" "$(window_field window)" "$title"
  expect "$title focus" "$(window_field focus)" "2"
  expect "$title English radio" "$(field 1015 check)" "1"
  expect "$title files" "$(field 1001 items)" "CR412304.BIN|CW516215.BIN|CW724132.KVF|KZ900200.KVF"
  expect "$title chosen file" "$(field 1001 sel)" "0"
  expect "$title drives" "$(field 1000 sel)" "0"
  expect "$title Back" "$(field 1022 enabled)" "0"
  expect "$title Pass Type hidden" "$(field 1020 visible)" "0"
  expect "$title Update Loader hidden" "$(field 1021 visible)" "0"
  if [ "$title" = Orvelin ]; then
    expect "$title maker name hidden" "$(field 1028 visible)" "0"
  else
    expect "$title maker name shown" "$(field 1028 visible)" "1"
  fi
  expect "$title progress range" "$(field 1007 range)" "0..120"
  screenshot "${prefix}_select_en"

  # Japanese, by the mouse (the group box around the radios must let the press through).
  click 1016
  state="$(probe wait "$title" main 1011 "ターゲットドライブ")" || fail "$title: Japanese not applied"
  expect "$title Japanese radio" "$(field 1016 check)" "1"
  expect "$title English radio after Japanese" "$(field 1015 check)" "0"
  expect "$title Next in Japanese" "$(text_of 1003)" "次へ >"
  expect "$title Close in Japanese" "$(text_of 2)" "クローズ"
  screenshot "${prefix}_select_ja"
  local running="フラッシュROMを消去中" other_radio=1015 result="ドライブF/Wのアップデートを完了しました。" start="スタート"
  if [ "$lang" = en ]; then
    click 1015
    state="$(probe wait "$title" main 1011 "Target Drive")" || fail "$title: English not applied again"
    running="Erasing Flash ROM"
    other_radio=1016
    result="Completed to update F/W of Drive."
    start="Start"
  fi

  # The file for drive cdrom0 from the dropped list, and a backup.
  click 1001
  local index point
  index="$(item_index 1001 CW724132.KVF)"
  point="$(probe list-item "$index")" || fail "$title: no dropped list"
  click $point
  state="$(probe wait "$title" main 1018 "Tessaro CW-7240 Ver 1.32")" || fail "$title: file not chosen"
  click 1004
  state="$(probe wait "$title" main 1019 "CDRWFW00.KVF")" || fail "$title: no backup name"
  expect "$title backup box" "$(field 1004 check)" "1"

  click 1003
  state="$(probe wait "$title" main 1003 "$start")" || fail "$title: not on the start page"
  expect "$title Back on the start page" "$(field 1022 enabled)" "1"
  click 1003

  # Held at the erase step: the window paints; input and close requests are dropped.
  state="$(probe wait "$title" main 1006 ">> $running")" || fail "$title: the update did not reach its erase step"
  expect "$title Close while running" "$(field 2 enabled)" "0"
  expect "$title Next while running" "$(field 1003 enabled)" "0"
  [ "$(field 1007 pos)" -gt 0 ] 2>/dev/null || fail "$title: the progress bar did not move"
  screenshot "${prefix}_running_$lang"
  click "$other_radio"
  click $(window_field closebox | tr , ' ')
  probe close "$title" || fail "$title: WM_CLOSE not posted"
  # Only once the window has fetched all that, the update may end.
  probe sync "$title" || fail "$title: the window did not answer while busy"
  touch "$work/RELEASE"

  state="$(probe wait "$title" main 1006 "$result")" || fail "$title: no result page"
  expect "$title language after input while busy" "$(field "$other_radio" check)" "0"
  expect "$title progress at the end" "$(field 1007 pos)" "120"
  expect "$title Next after the update" "$(field 1003 enabled)" "0"
  expect "$title Close after the update" "$(field 2 enabled)" "1"
  [ -f "$work/CDRWFW00.KVF" ] || fail "$title: no backup file"
  screenshot "${prefix}_result_$lang"

  # The close box now ends the program.
  click $(window_field closebox | tr , ' ')
  probe gone "$title" 10000 || { fail "$title: the close box did not end it"; kill "$pid"; }
  wait "$pid"
  expect "$title exit status" "$?" "0"
}

# A start-up failure: the message box with the program's title and the stop
# icon, closed with its OK button; no dialog is shown.
run_message_box() {
  local exe="$1" title="$2"
  "$ORVEL_WINE" "$exe" --simulate=aspi-no-library -C "$(winpath "$build")" &
  local pid=$!
  started+=("$pid")
  state="$(probe wait "$title" box)" || { fail "$title: no message box"; kill "$pid"; return; }
  expect_contains "$title box" "$state" "text=Not found 'ASPI32.DLL'"
  expect_contains "$title box icon" "$state" "icon=stop"
  click "$(grep -m1 'text=OK' <<< "$state" | sed -n 's/^id=\([0-9]*\) .*/\1/p')"
  probe gone "$title" 10000 || { fail "$title: the box's OK did not end it"; kill "$pid"; }
  wait "$pid"
  expect "$title exit status after the box" "$?" "0"
}

run_program "$build/app/Orvel.exe" Orvel ja orvel
run_program "$build/app/Orvelin.exe" Orvelin en orvelin
run_message_box "$build/app/Orvelin.exe" Orvelin

eval "exec ${PROBE[1]}>&-"
wait "$PROBE_PID"
if [ "$failures" -ne 0 ]; then
  echo "dialog_programs_test: $failures failure(s)" >&2
  exit 1
fi
echo "dialog_programs_test: both programs passed; screenshots in $shots"
