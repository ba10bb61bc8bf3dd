#!/usr/bin/env bash
# install-deps.sh against a stand-in apt-get (and dpkg, dpkg-query, id,
# locale) first on PATH, one outcome per case: no network, no root, no
# package touched. Each case scripts what apt-get answers to each call and
# checks the exit status, what the script printed and which calls it made.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"

# apt-get: answers its Nth call of a kind (update, install) from the case's
# script $work/answers/KIND.N (first line the status, the rest the output),
# or succeeds silently when there is none; logs every call.
cat >"$bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
kind=$1; for a in "$@"; do case $a in update|install) kind=$a; break ;; esac; done
echo "apt-get $*" >>"$BK_TEST_WORK/calls"
n=$(( $(grep -c "^apt-get .*$kind" "$BK_TEST_WORK/calls") ))
answer=$BK_TEST_WORK/answers/$kind.$n
[ -f "$answer" ] || exit 0
tail -n +2 "$answer"
exit "$(head -n 1 "$answer")"
STANDIN
# Every package missing, i386 known, root, the Japanese locale present.
printf '#!/bin/sh\nexit 1\n' >"$bin/dpkg-query"
printf '#!/bin/sh\necho "dpkg $*" >>"$BK_TEST_WORK/calls"\necho i386\n' >"$bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$bin/id"
printf '#!/bin/sh\necho ja_JP.utf8\n' >"$bin/locale"
chmod +x "$bin"/*

stale='E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (100 != 200). Mirror sync in progress? [IP: 192.0.2.1 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.'
held='E: Unable to correct problems, you have held broken packages.'
unfetched='E: Failed to fetch http://deb.example/debian/pool/main/w/wine/wine32_8.0_i386.deb  404  Not Found [IP: 192.0.2.1 80]
E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?'

# answer KIND N STATUS OUTPUT: the Nth call of KIND answers so.
answer() { mkdir -p "$work/answers"; printf '%s\n%s\n' "$3" "$4" >"$work/answers/$1.$2"; }

failures=0
# check NAME EXPECTED-STATUS UPDATES INSTALLS PATTERN...: runs the script
# and checks its status, the number of update and install calls, and that
# its output matches every pattern (a leading ! : matches none of its lines).
check() {
    local name=$1 want=$2 updates=$3 installs=$4 status=0 out pattern; shift 4
    : >"$work/calls"
    out=$(PATH="$bin:$PATH" BK_TEST_WORK=$work BK_APT_ATTEMPTS=3 BK_APT_PAUSE=0 \
          timeout 60 bash "$here/install-deps.sh" 2>&1) || status=$?
    local got_updates got_installs
    got_updates=$(grep -c '^apt-get update' "$work/calls" || true)
    got_installs=$(grep -c '^apt-get install' "$work/calls" || true)
    local ok=1
    [ "$status" = "$want" ] || { echo "  status $status, expected $want"; ok=0; }
    [ "$got_updates" = "$updates" ] || { echo "  $got_updates index updates, expected $updates"; ok=0; }
    [ "$got_installs" = "$installs" ] || { echo "  $got_installs installs, expected $installs"; ok=0; }
    for pattern in "$@"; do
        if [ "${pattern:0:1}" = "!" ]; then
            ! grep -qE -- "${pattern:1}" <<<"$out" || { echo "  output matches ${pattern:1}"; ok=0; }
        else
            grep -qE -- "$pattern" <<<"$out" || { echo "  output lacks $pattern"; ok=0; }
        fi
    done
    if [ $ok = 1 ]; then echo "ok: $name"; else echo "FAILED: $name"; echo "$out" | sed 's/^/  | /'; failures=$((failures + 1)); fi
    rm -rf "$work/answers"
}

# The index is asked for with failures counting as failures.
check "index and install succeed" 0 1 1 '!registry' '!held'
grep -q -- '--error-on=any' "$work/calls" || { echo "FAILED: apt-get update without --error-on=any"; failures=$((failures + 1)); }

answer update 1 100 "$stale"
check "a stale index, served right on the retry" 0 2 1 '!registry' '!Mirror sync'

# apt says so but exits 0 without --error-on=any: its output alone counts.
for n in 1 2 3; do answer update $n 0 "$stale"; done
check "a stale index that stays, even where apt exits 0" 100 3 0 \
    '^install-deps: the package registry, not this machine, is at fault: .*binary-i386/Packages\.xz$' \
    '!Mirror sync' '!held'
for n in 1 2 3; do answer update $n 100 "$stale"; done
: >"$work/calls"
out=$(PATH="$bin:$PATH" BK_TEST_WORK=$work BK_APT_ATTEMPTS=3 BK_APT_PAUSE=0 bash "$here/install-deps.sh" 2>&1) || true
if [ "$(printf '%s\n' "$out" | wc -l)" = 1 ]; then echo "ok: giving up is one line"
else echo "FAILED: giving up is one line"; echo "$out" | sed 's/^/  | /'; failures=$((failures + 1)); fi
rm -rf "$work/answers"

answer install 1 100 "$held"
check "an install the machine refuses, in apt's words" 100 1 1 'held broken packages' '!registry'

for n in 1 2 3; do answer install $n 100 "$unfetched"; done
check "a package the registry does not serve" 100 3 3 \
    '^install-deps: the package registry, not this machine, is at fault: .*wine32_8\.0_i386\.deb$'

# The pause between attempts is the one asked for: two retries, two pauses.
for n in 1 2; do answer update $n 100 "$stale"; done
: >"$work/calls"
start=$(date +%s)
PATH="$bin:$PATH" BK_TEST_WORK=$work BK_APT_ATTEMPTS=3 BK_APT_PAUSE=1 timeout 60 bash "$here/install-deps.sh" >/dev/null 2>&1 || true
elapsed=$(($(date +%s) - start))
rm -rf "$work/answers"
if [ $elapsed -ge 2 ] && [ $elapsed -lt 30 ]; then echo "ok: two retries pause twice"
else echo "FAILED: two retries of a 1 s pause took $elapsed s"; failures=$((failures + 1)); fi

[ $failures = 0 ] && echo "install-deps.sh: all cases passed" || echo "install-deps.sh: $failures cases failed"
[ $failures = 0 ]
