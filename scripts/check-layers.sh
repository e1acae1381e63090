#!/usr/bin/env bash
# Fails, naming file:line, where a folder of the application includes a header of a layer above
# it. From low to high the layers are: document and engine (one tier: the model queues engine
# commands, and the commands act on the model), then canvas, tools and panels (one tier: the
# canvas hands its input to the current tool, the tools build their option pages from the panels'
# widgets), then colour, then shell. A file may include its own tier and the tiers below it; the
# tests, benchmarks and programs may include any layer.
set -euo pipefail
cd "$(dirname "$0")/../application/src"

tier() {
  case "$1" in
    document | engine) echo 0 ;;
    canvas | tools | panels) echo 1 ;;
    colour) echo 2 ;;
    shell) echo 3 ;;
    *) echo "" ;;
  esac
}

# Known exceptions, each "file header": the colour workspace and its sampler still ask the
# shell for the help pages' address and for the tool to fall back to.
allowed=(
  "colour/ColourWorkspace.cpp shell/KsApp.h"
  "colour/ColourWorkspace.cpp shell/KsMainWindow.h"
  "colour/ColourWorkspaceSelectTool.cpp shell/KsApp.h"
)

status=0
while IFS= read -r -d '' file; do
  file=${file#./}
  from=$(tier "${file%%/*}")
  if [ -z "$from" ]; then
    echo "$file: in no layer folder" >&2
    status=1
    continue
  fi
  while IFS=: read -r line header; do
    to=$(tier "${header%%/*}")
    [ -n "$to" ] || continue
    [ "$to" -le "$from" ] && continue
    for pair in "${allowed[@]}"; do
      [ "$pair" = "$file $header" ] && continue 2
    done
    echo "$file:$line: includes $header, a layer above its own" >&2
    status=1
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/' || true)
done < <(find . -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

exit "$status"
