#!/usr/bin/env bash
# The bash completion of orvel-cli against the built program: what a Tab
# offers after each typed line, and that the man page names every command and
# option the program has. Usage: completion_test.sh ORVEL-CLI DIST-DIR
set -uo pipefail
cli=$1
dist=$2
framework=/usr/share/bash-completion/bash_completion
if [[ ! -r $framework ]]; then
    echo "SKIP: bash-completion is not installed (tools/install-deps.sh package)"
    exit 77
fi
# shellcheck source=/dev/null
source "$framework"
# shellcheck source=/dev/null
source "$dist/completion/orvel-cli"
PATH="$(dirname "$cli"):$PATH"
export ORVEL_SIM_FAST=1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/sub"
touch "$scratch/NEWFW.KVF" "$scratch/old.bin" "$scratch/notes.txt"

passed=0
failed=0

# Splits a typed line into words as readline does (blanks, and "=" and ":"
# as words of their own; "\ " keeps a blank), then asks the completion.
offered() {
    local line=$1 word="" c i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ $c == '\' && $i -lt $((${#line} - 1)) ]]; then
            word+=$c${line:i+1:1}
            ((i++))
        elif [[ $c == ' ' ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            word=""
        elif [[ $c == [=:] ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            COMP_WORDS+=("$c")
            word=""
        else
            word+=$c
        fi
    done
    COMP_WORDS+=("$word")
    [[ -z $word && ${line: -1} == [=:] ]] && unset 'COMP_WORDS[-1]'
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _orvel_cli
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ' -
}

expect() {
    local line=$1 want=$2 got
    got=$(offered "$line")
    if [[ $got == "$want" ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL: "%s<Tab>"\n  offered: %s\n  wanted:  %s\n' "$line" "$got" "$want"
    fi
}

expect_contains() {
    local line=$1 want=$2 got
    got=" $(offered "$line") "
    if [[ $got == *" $want "* ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL: "%s<Tab>" does not offer %s\n  offered:%s\n' "$line" "$want" "$got"
    fi
}

expect "orvel-cli " "backup convert drives help identify update verify"
expect "orvel-cli help u" "update"
expect "orvel-cli --json up" "update"
expect "orvel-cli --lang " "en ja"
expect "orvel-cli update --d" "--drive"
expect_contains "orvel-cli backup --" "--simulate="
expect_contains "orvel-cli --" "--trace"
expect_contains "orvel-cli --" "--verbose"
expect "orvel-cli --simulate=aspi-e" "aspi-empty"
expect "orvel-cli --simulate=rewrite-fails,f" ""
expect "orvel-cli --simulate update NEWFW.KVF --drive " "1 2 3 4 cdrom0 cdrom1 cdrom2 cdrom3"
expect "orvel-cli --simulate=drive-letter backup --drive " "1 2 drive1 drive2"
expect "orvel-cli --simulate=aspi backup --drive HA" 'HA:0\ ID:0 HA:0\ ID:1 HA:0\ ID:2 HA:0\ ID:3'
expect "orvel-cli --simulate=aspi backup --drive HA:0\\ ID:" "0 1 2 3"
expect "orvel-cli -C $scratch identify " "NEWFW.KVF old.bin sub"
expect "orvel-cli -C $scratch convert n" "notes.txt"
expect "orvel-cli drives " ""

# The man page names every command and visible option.
page="$dist/man/orvel-cli.1.scd.in"
names=$("$cli" complete commands)
names+=$'\n'$("$cli" complete options)
for command in $("$cli" complete commands); do names+=$'\n'$("$cli" complete options "$command"); done
for name in $(printf '%s\n' "$names" | sort -u); do
    [[ $name == -h ]] && continue
    if grep -qF -- "*$name*" "$page"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $page does not name *$name*"
    fi
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
