#!/usr/bin/env bash
# The Windows command line under Wine against the Linux one on the same inputs: the same
# exit status, the same bytes on standard output and in the files each writes.
# Usage: windows_cli_check.sh LINUX_CLI WINDOWS_CLI_EXE (Wine's environment set up).
set -euo pipefail
linux=$1
windows=$2
wine=${WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'hello a@b.c\nno address\n"x y@z" w@v,\n' > lines.txt
printf 'a\0b@c\nx@y\0 z@w\n\t\xcc\x81q@r "p""@s"\n' > marks.txt
printf '\xef\xbb\xbf\xe2\x82\xac@euro \xd0\x96@zhe\r\n' > utf8.txt
printf 'a@b\n\xff@c\n' > broken.txt
printf '\x1aa@b\nc@d\n' > ctrlz.txt
printf '\xff\xfea\0\n\0b\0' > utf16.txt
head -c 70000 /dev/zero | tr '\0' 'x' > big.dat
printf 'A1' > part.txt
printf 'A2' > part._2
fail=0
runBoth() { # runBoth ARGS...: both programs in folders of their own
  rm -rf L W && mkdir L W
  (cd L && "$linux" "$@" >stdout 2>../L.stderr; echo $? >status) || true
  (cd W && "$wine" "$windows" "$@" >stdout 2>../W.stderr </dev/null; echo $? >status) || true
  # Piece names carry the time: compare the pieces by their order.
  for side in L W; do
    (ls $side | grep -v '^stdout$\|^status$' | sort -t_ -k2,2n || true) >$side.files
  done
  # The pieces' names printed by cut carry the time they were made at: masked.
  for side in L W; do
    sed 's/_[0-9]\{8\}_[0-9]*\././' $side/stdout >$side.stdout
  done
  cmp -s L/status W/status && cmp -s L.stdout W.stdout &&
    [ "$(wc -l <L.files)" = "$(wc -l <W.files)" ]
}
run() { # run NAME ARGS...: both programs run and compared
  local name=$1
  shift
  if ! runBoth "$@"; then
    # Wine has failed a run now and then where the next run matched: a difference counts
    # when a second run shows it too; the first run's messages stay in the log.
    echo "windows cli check: $name differed once (status $(cat L/status) / $(cat W/status)):"
    sed 's/^/  linux stderr: /' L.stderr
    sed 's/^/  wine stderr: /' W.stderr
    diff L.stdout W.stdout | sed 's/^/  stdout: /' || true
    diff L.files W.files | sed 's/^/  files: /' || true
    if ! runBoth "$@"; then
      echo "windows cli check: $name differs (status $(cat L/status) / $(cat W/status))"
      sed 's/^/  wine stderr: /' W.stderr
      fail=1
      return
    fi
  fi
  paste L.files W.files | while read -r l w; do
    cmp -s "L/$l" "W/$w" || { echo "windows cli check: $name: $l and $w differ"; exit 1; }
  done || fail=1
}
for f in lines marks utf8 broken ctrlz utf16; do
  run "extract $f" extract ../$f.txt
  run "extract $f -o" extract ../$f.txt -o out.txt
  run "edit $f" edit --prefix '<' --suffix '>' ../$f.txt -o out.txt
  run "count $f" count ../$f.txt
done
run "join" join -o all.bin ../part.txt ../big.dat
run "join passing over" join -o all.bin ../part.txt ../missing.txt
run "cut" cut -n 3 ../big.dat
run "usage" cut -n 0 ../big.dat

# Ctrl+C during a save and a cut (Wine makes SIGINT the console's control event): every
# temporary and the unfinished output removed, the pieces already whole kept and named, and
# the status of a program that Ctrl+C ends (0xC000013A: a Unix parent sees its low byte).
interrupted() { # interrupted NAME READY-GLOB ARGS... (ready once a match holds bytes)
  local name=$1 ready=$2 status=0
  shift 2
  rm -rf I && mkdir I
  (
    cd I
    "$wine" "$windows" "$@" </dev/null >stdout 2>stderr &
    pid=$!
    for _ in $(seq 6000); do
      [ -n "$(find . -maxdepth 1 -name "$ready" -size +0 2>/dev/null)" ] ||
        ! kill -0 $pid 2>/dev/null && break
      sleep 0.01
    done
    kill -INT $pid 2>/dev/null || true
    wait $pid || exit $?
  ) || status=$?
  local left kept
  left=$(cd I && ls -A | grep -v '^stdout$\|^stderr$' || true)
  kept=$(cd I && ls | grep '^big\.bin_' || true)
  local expected=""
  [ -n "$kept" ] &&
    expected=$(printf 'quorvane-cli: interrupted; the unfinished piece was removed; pieces kept:\n%s' "$kept")
  if [ "$status" != 58 ] || [ "$left" != "$kept" ] || [ "$(tr -d '\r' <I/stderr)" != "$expected" ]; then
    echo "windows cli check: Ctrl+C during $name: status $status, left: $left"
    sed 's/^/  wine stderr: /' I/stderr
    fail=1
  fi
}
truncate -s 768M big.bin
{ yes 'someone@example.com and a few more words on the line' || true; } | head -c 128000000 >big.txt
interrupted "a save" ".qv-*" extract ../big.txt -o new.txt
interrupted "a cut" "big.bin_1_*" cut -n 3 ../big.bin

[ $fail = 0 ] && echo "windows cli check: the same bytes from both command lines; Ctrl+C leaves no temporary"
exit $fail
