#!/usr/bin/env bash
# Checks the dependency rule of the library: a file includes only from its own layer and the
# layers below it.
#   geometry, io  <-  elements  <-  document  <-  app
# (geometry and io are independent of each other; "<-" reads "is used by").
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
allowed() {
  case "$1" in
    geometry) echo "geometry" ;;
    io) echo "io" ;;
    elements) echo "geometry elements" ;;
    document) echo "geometry io elements document" ;;
    app) echo "geometry io elements document app" ;;
  esac
}
bad=0
for layer in geometry io elements document app; do
  for file in "$layer"/*.hpp "$layer"/*.cpp; do
    [ -f "$file" ] || continue
    while IFS= read -r target; do
      folder="${target%%/*}"
      if ! [[ " $(allowed "$layer") " == *" $folder "* ]]; then
        echo "$file includes $target: $layer may not use $folder" >&2
        bad=1
      fi
    done < <(sed -n 's/^#include "\([a-z_]*\/[^"]*\)".*/\1/p' "$file")
  done
done
[ "$bad" -eq 0 ] && echo "layers ok"
exit "$bad"
