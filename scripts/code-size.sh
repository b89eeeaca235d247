#!/usr/bin/env bash
# Counts the non-blank, non-comment lines of the project's C++, shell and CMake files, by the
# role each file plays wherever it sits:
#   production  the program and its plugins (and the libraries they are built from)
#   tools       the staff's tools, benchmarks, and the build, run and asset scripts
#   tests       unit tests (*_test.cpp), whole-program tests, fuzzing harnesses, test support,
#               test scripts
# and prints the ratio of tests to production plus tools.
#   scripts/code-size.sh          the table
#   scripts/code-size.sh -v       each file with its role and count as well
set -euo pipefail
cd "$(dirname "$0")/.."

role() {
  case "$1" in
    *_test.cpp | tests/* | */testing/* | fuzz/* | scripts/run-tests.sh | scripts/fuzz.sh) echo tests ;;
    tools/* | bench/* | */bench_*.cpp | scripts/* | app/icon/*.sh) echo tools ;;
    *) echo production ;;
  esac
}

# C and C++: drop // and /* */ comments (not inside string literals), then blank lines.
count_cpp() {
  awk '
    {
      line = $0; out = ""; i = 1; n = length(line); instr = 0
      while (i <= n) {
        c = substr(line, i, 1); two = substr(line, i, 2)
        if (inblock) { if (two == "*/") { inblock = 0; i += 2 } else i++; continue }
        if (instr) {
          out = out c
          if (c == "\\") { out = out substr(line, i + 1, 1); i += 2; continue }
          if (c == instr) instr = 0
          i++; continue
        }
        if (two == "//") break
        if (two == "/*") { inblock = 1; i += 2; continue }
        if (c == "\"" || c == "'\''") instr = c
        out = out c; i++
      }
      if (out ~ /[^ \t\r]/) count++
    }
    END { print count + 0 }' "$1"
}

# Shell and CMake: drop lines that are blank or only a comment.
count_hash() {
  grep -cvE '^[[:space:]]*(#|$)' "$1" || true
}

declare -A total=([production]=0 [tools]=0 [tests]=0)
verbose=${1:-}
while IFS= read -r f; do
  case "$f" in
    *.cpp | *.h | *.hpp | *.c) n=$(count_cpp "$f") ;;
    *.sh | */CMakeLists.txt | CMakeLists.txt | *.cmake | .ci/run) n=$(count_hash "$f") ;;
    *) continue ;;
  esac
  r=$(role "$f")
  total[$r]=$((total[$r] + n))
  [ "$verbose" = -v ] && printf '%-10s %6d  %s\n' "$r" "$n" "$f"
done < <(git ls-files --cached --others --exclude-standard)

p=${total[production]} t=${total[tools]} s=${total[tests]}
printf '%-36s %6d\n' "production (program and plugins)" "$p"
printf '%-36s %6d\n' "tools and benchmarks" "$t"
printf '%-36s %6d\n' "tests" "$s"
awk -v s="$s" -v p="$p" -v t="$t" 'BEGIN { printf "%-36s %6.3f\n", "tests / (production + tools)", s / (p + t) }'
