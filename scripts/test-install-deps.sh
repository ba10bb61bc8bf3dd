#!/usr/bin/env bash
# install-deps.sh against a stand-in apt-get (and dpkg, dpkg-query, id,
# locale) first on PATH, one outcome of apt per case: no network, no root,
# nothing installed. Each case scripts what apt-get answers and checks the
# exit status, the update and install calls made and what was printed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/answers"

# apt-get answers the Nth update or install from answers/KIND.N (the status,
# then the output), else succeeds silently; every call is logged.
cat >"$work/bin/apt-get" <<'STANDIN'
#!/usr/bin/env bash
kind=other; for a in "$@"; do case $a in update|install) kind=$a; break ;; esac; done
echo "$kind $*" >>"$BK_TEST_WORK/calls"
answer=$BK_TEST_WORK/answers/$kind.$(grep -c "^$kind " "$BK_TEST_WORK/calls")
[ -f "$answer" ] || exit 0
tail -n +2 "$answer"
exit "$(head -n 1 "$answer")"
STANDIN
# Every package missing, i386 known, root, the Japanese locale present.
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\necho ja_JP.utf8\n' >"$work/bin/locale"
chmod +x "$work"/bin/*

stale='E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (100 != 200). Mirror sync in progress? [IP: 192.0.2.1 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.'
held='E: Unable to correct problems, you have held broken packages.'
unfetched='E: Failed to fetch http://deb.example/debian/pool/main/w/wine/wine32_8.0_i386.deb  404  Not Found [IP: 192.0.2.1 80]
E: Unable to fetch some archives, maybe run apt-get update or try with --fix-missing?'
registry='^install-deps: the package registry, not this machine, is at fault: after 3 attempts it still did not serve'

failures=0
# check NAME STATUS UPDATES INSTALLS LINES [PATTERN...] with the answers
# "KIND N STATUS OUTPUT" given in $answers: the status, the calls, the
# number of lines printed (- for any), and every pattern found (! first: absent).
check() {
    local name=$1 want=$2 updates=$3 installs=$4 lines=$5 status=0 out pattern problems=""; shift 5
    : >"$work/calls"; rm -f "$work"/answers/*
    while IFS='|' read -r kind n code text; do
        [ -n "$kind" ] && printf '%s\n%b\n' "$code" "$text" >"$work/answers/$kind.$n"
    done <<<"$answers"
    out=$(PATH="$work/bin:$PATH" BK_TEST_WORK=$work BK_APT_ATTEMPTS=3 BK_APT_PAUSE=${pause:-0} \
          timeout 60 bash "$here/install-deps.sh" 2>&1) || status=$?
    [ "$status" = "$want" ] || problems+=" status $status;"
    [ "$(grep -c '^update .*--error-on=any' "$work/calls")" = "$updates" ] || problems+=" updates;"
    [ "$(grep -c '^install ' "$work/calls")" = "$installs" ] || problems+=" installs;"
    [ "$lines" = - ] || [ "$(grep -c '' <<<"$out")" = "$lines" ] || problems+=" lines;"
    for pattern in "$@"; do
        if [ "${pattern:0:1}" = "!" ]; then grep -qE -- "${pattern:1}" <<<"$out" && problems+=" has ${pattern:1};"
        else grep -qE -- "$pattern" <<<"$out" || problems+=" lacks $pattern;"; fi
    done
    if [ -z "$problems" ]; then echo "ok: $name"; return; fi
    echo "FAILED: $name:$problems"; sed 's/^/  | /' <<<"$out"; cat "$work/calls"
    failures=$((failures + 1))
}
line() { printf '%s|%s|%s|%s\n' "$1" "$2" "$3" "${4//$'\n'/\\n}"; }

answers="" check "index and install succeed" 0 1 1 - '!registry' '!held'
answers=$(line update 1 100 "$stale") check "a stale index, served on the retry" 0 2 1 - '!registry' '!Mirror'
# apt reports the failed index yet exits 0 where --error-on=any is not honoured.
answers=$(for n in 1 2 3; do line update $n 0 "$stale"; done) \
    check "a stale index that stays" 100 3 0 1 "$registry .*binary-i386/Packages\.xz$" '!Mirror'
answers=$(line install 1 100 "$held") \
    check "an install the machine refuses, in apt's words" 100 1 1 - 'held broken packages' '!registry'
# Each attempt after the first reads the indexes again.
answers=$(for n in 1 2 3; do line install $n 100 "$unfetched"; done) \
    check "a package the registry does not serve" 100 3 3 1 "$registry .*wine32_8\.0_i386\.deb$"

start=$(date +%s)
answers=$(for n in 1 2; do line update $n 100 "$stale"; done) pause=1 check "two retries, two pauses" 0 3 1 -
elapsed=$(($(date +%s) - start))
[ $elapsed -ge 2 ] && [ $elapsed -lt 30 ] || { echo "FAILED: two 1 s pauses took $elapsed s"; failures=$((failures + 1)); }

[ $failures = 0 ] && echo "install-deps.sh: all cases passed" || echo "install-deps.sh: $failures cases failed"
[ $failures = 0 ]
