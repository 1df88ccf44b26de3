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
[ $fail = 0 ] && echo "windows cli check: the same bytes from both command lines"
exit $fail
