#!/usr/bin/env bash
# Fails on an include that points up the layers (docs/ARCHITECTURE.md, "Layers"), and on a
# host header included outside the platform layer and the entry points. Each layer may
# include itself and the layers listed for it; resources/ holds headers every layer may use.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [platform]="platform resources"
  [contract]="contract platform resources"
  [plan]="plan contract platform resources"
  [link]="link contract platform resources"
  [workers]="workers plan contract platform resources"
  [dialog]="dialog link plan contract platform resources"
  [app]="app dialog workers link plan contract platform resources"
  [main]="main app dialog workers link plan contract platform resources"
  [check]="check app dialog workers link plan contract platform resources tools"
)
# The Windows build's entry point lives with its platform layer and wires every layer.
entry_points="platform/win32/Win32Main.cpp"
host_headers='unistd\.h|sys/|termios\.h|dlfcn\.h|fcntl\.h|dirent\.h|poll\.h|pthread\.h|ft2build\.h|fontconfig/|png\.h|archive\.h|windows\.h'

failures=0
for layer in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    case " $entry_points " in *" $file "*) continue ;; esac
    if [[ $text =~ ^#include\ \"([^/\"]+)/ ]]; then
      target=${BASH_REMATCH[1]}
      if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
        echo "$file:$line: $layer/ must not include $target/ ($text)"
        failures=$((failures + 1))
      fi
    elif [[ $layer != platform && $file != */*Main.cpp && $text =~ ^#include\ \<($host_headers) ]]; then
      echo "$file:$line: only platform/ and the entry points include host headers ($text)"
      failures=$((failures + 1))
    fi
  done < <(git ls-files "$layer/*.cpp" "$layer/*.h" | xargs -r grep -Hn '^#include ' || true)
done
if [ "$failures" -gt 0 ]; then
  echo "$failures include(s) against the layers; see docs/ARCHITECTURE.md, \"Layers\""
  exit 1
fi
