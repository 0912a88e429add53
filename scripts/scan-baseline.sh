#!/usr/bin/env bash
# Lists every instruction beyond the 32-bit Windows build's processor
# baseline (SSE2) in the .exe files named, by disassembly; exit code 1 when
# there is one, 2 when a file cannot be disassembled.
#
# Code that runs only after a check of the processor is told apart by its
# routines' names: the project keeps all of it (the generator's AVX2 lanes,
# runtime/random_lanes_avx2.cpp, the one file built for a wider set) in the
# namespace sys::behind_cpu_check, whose name every such routine's symbol
# carries.  Instructions there are counted and named per routine, not
# faults; anywhere else they are.  The programs' symbols are kept in the
# build, which is what lets the listing name the routine of each hit.
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
  hits=$(awk -F'\t' -v beyond="$beyond" '
    /^[0-9a-f]+ <.*>:$/ { symbol = $0; data = ($0 ~ / <\./); checked = ($0 ~ /behind_cpu_check/); next }
    NF >= 2 && !data { split($2, w, " "); if (w[1] ~ beyond && w[1] !~ /^ver[rw]$/) print (checked ? "checked " : "open ") symbol ": " $0 }' <<<"$listing")
  found=$(grep '^open ' <<<"$hits" | cut -c6-)
  checked=$(grep '^checked ' <<<"$hits" | cut -c9-)
  if [ -n "$checked" ]; then
    echo "$exe: $(wc -l <<<"$checked") instructions beyond SSE2 behind a run-time processor check, in:"
    sed 's/: .*//' <<<"$checked" | sort | uniq -c | sed 's/^/  /'
  fi
  if [ -n "$found" ]; then
    echo "$exe: instructions beyond SSE2:"
    echo "$found" | head -20
    [ "$status" -eq 0 ] && status=1
  fi
done
exit $status
