#!/usr/bin/env bash
# Lists every instruction beyond the 32-bit Windows build's processor
# baseline (SSE2) in the .exe files named, by disassembly; exit code 1 when
# there is one, 2 when a file cannot be disassembled.
#
#   bash scripts/scan-baseline.sh build-win/aggregation/*.exe
set -uo pipefail
objdump=${AGG_OBJDUMP:-i686-w64-mingw32-objdump}
# SSE3, SSSE3, SSE4.1/4.2, AVX and later (every v-prefixed form), the BMI
# and ABM sets, MOVBE and the XSAVE family.  Not tzcnt: the compiler writes
# "rep bsf", which a processor without BMI runs as bsf and the
# disassembler names tzcnt.
beyond='^(fisttp|addsubp[sd]|hadd|hsub|movshdup|movsldup|movddup|lddqu|monitor|mwait|pshufb|phadd|phsub|pmaddubsw|pmulhrsw|psign[bwd]|pabs[bwd]|palignr|blendv?p[sd]|pblend|dpp[sd]|extractps|insertps|movntdqa|mpsadbw|packusdw|pcmpeqq|pextr[bdq]|pinsr[bdq]|pmaxs[bd]|pmaxu[dw]|pmins[bd]|pminu[dw]|phminposuw|pmovsx|pmovzx|pmuldq|pmulld|ptest|round[ps][sd]|pcmp[ei]str|pcmpgtq|crc32|xgetbv|xsave|xrstor|(popcnt|lzcnt|andn|bextr|blsi|blsmsk|blsr|bzhi|pdep|pext|sarx|shlx|shrx|rorx|mulx|adcx|adox|movbe)[bwlq]?$|v[a-z])'
status=0
for exe in "$@"; do
  if ! listing=$("$objdump" -d --no-show-raw-insn "$exe"); then
    echo "$exe: cannot be disassembled" >&2
    status=2
    continue
  fi
  # Hits inside tables that share a code section (their labels begin with
  # a dot, such as .gcc_except_table) are data, not instructions.
  found=$(awk -F'\t' -v beyond="$beyond" '
    /^[0-9a-f]+ <.*>:$/ { symbol = $0; data = ($0 ~ / <\./); next }
    NF >= 2 && !data { split($2, w, " "); if (w[1] ~ beyond && w[1] !~ /^ver[rw]$/) print symbol ": " $0 }' <<<"$listing")
  if [ -n "$found" ]; then
    echo "$exe: instructions beyond SSE2:"
    echo "$found" | head -20
    [ "$status" -eq 0 ] && status=1
  fi
done
exit $status
