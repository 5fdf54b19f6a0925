#!/bin/sh
# quillmark-reg.exe reads and writes the real registry: what it writes,
# wine's own reg.exe finds under HKEY_LOCAL_MACHINE\Software\Quillmark, and
# what reg.exe writes, it reads.
#
#   registry_wine.sh quillmark-reg.exe
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
tool=$1
[ -f "$tool" ] || fail "no $tool"
key='HKLM\Software\Quillmark'

reg_tool() { run_wine "$tool" "$@" 2>&1 | tr -d '\r'; }
wine_reg() { run_wine reg "$@" 2>&1 | tr -d '\r'; }

# Start clean (values of an earlier run).
for v in E2eText E2eDword E2eMail E2eFromReg; do run_wine reg delete "$key" /v $v /f >/dev/null 2>&1 || true; done

reg_tool add "$key" /v E2eText /t REG_SZ /d 'round trip text' /f >/dev/null || fail "quillmark-reg add REG_SZ"
reg_tool add "$key" /v E2eDword /t REG_DWORD /d 0x2a /f >/dev/null || fail "quillmark-reg add REG_DWORD"
reg_tool add "$key" /v E2eMail /t REG_SZ /d 'mail.example.org' /f /scramble >/dev/null || fail "quillmark-reg add /scramble"

out=$(wine_reg query "$key" /v E2eText)
printf '%s' "$out" | grep -q 'E2eText.*REG_SZ.*round trip text' || fail "reg.exe does not see E2eText: $out"
out=$(wine_reg query "$key" /v E2eDword)
printf '%s' "$out" | grep -q 'E2eDword.*REG_DWORD.*0x2a' || fail "reg.exe does not see E2eDword: $out"
out=$(wine_reg query "$key" /v E2eMail)
printf '%s' "$out" | grep -q 'E2eMail.*REG_SZ' || fail "reg.exe does not see E2eMail: $out"
printf '%s' "$out" | grep -q 'mail.example.org' && fail "the scrambled value is stored in plain text: $out"

out=$(reg_tool query "$key" /v E2eMail /scramble)
printf '%s' "$out" | grep -q 'mail.example.org' || fail "quillmark-reg does not descramble E2eMail: $out"

wine_reg add "$key" /v E2eFromReg /t REG_SZ /d 'written by reg.exe' /f >/dev/null || fail "reg.exe add"
out=$(reg_tool query "$key" /v E2eFromReg)
printf '%s' "$out" | grep -q 'E2eFromReg.*REG_SZ.*written by reg.exe' || fail "quillmark-reg does not see E2eFromReg: $out"

reg_tool delete "$key" /v E2eText /f >/dev/null || fail "quillmark-reg delete"
if run_wine reg query "$key" /v E2eText >/dev/null 2>&1; then fail "E2eText is still in the registry"; fi
for v in E2eDword E2eMail E2eFromReg; do run_wine reg delete "$key" /v $v /f >/dev/null 2>&1 || true; done
echo "registry: quillmark-reg.exe and reg.exe agree"
