#!/usr/bin/env bash
# Regenerates exported_symbols.txt from a built release library:
#   tests/abi/generate_exported_symbols.sh build/core/libZorvikCore_3_4_0_x64.so
# Only after a deliberate change of the exported API; review the diff: a removed line is a symbol
# that clients linked against the previous library may need.
set -euo pipefail
lib=${1:?usage: generate_exported_symbols.sh path/to/libZorvikCore_3_4_0_x64.so}
out="$(dirname "$0")/exported_symbols.txt"
{
  echo "# Demangled names of the defined dynamic symbols of the release library in the namespaces"
  echo "# LieGroup and ZorvikFoundation (vtables and type information included). A regression"
  echo "# baseline for ExportedSymbolsTest; regenerate after a deliberate API change with"
  echo "#   tests/abi/generate_exported_symbols.sh build/core/libZorvikCore_3_4_0_x64.so"
  nm -D --defined-only --demangle "$lib" | cut -d' ' -f3- |
    grep -E '^((vtable|typeinfo|typeinfo name|VTT|guard variable) for )?(([A-Za-z_][A-Za-z0-9_:]*|.*>) )?(LieGroup|ZorvikFoundation)::' |
    LC_ALL=C sort -u
} > "$out"
echo "wrote $(grep -vc '^#' "$out") symbols to $out"
