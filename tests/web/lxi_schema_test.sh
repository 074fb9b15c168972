#!/usr/bin/env bash
# Every kind of identification document the server makes is valid against
# the LXI Consortium's schema, and the schema would notice a field missing.
#   lxi_schema_test.sh LXI_DOCUMENTS SCHEMA
set -euo pipefail
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
"$1" "$folder"
count=$(ls "$folder"/*.xml | wc -l)
[ "$count" -ge 5 ] || { echo "only $count documents" >&2; exit 1; }
xmllint --noout --schema "$2" "$folder"/*.xml
# Without SubnetMask (as the document once was) it is refused.
sed '/<SubnetMask>/d' "$folder/one-generator.xml" >"$folder/broken"
if xmllint --noout --schema "$2" "$folder/broken" 2>/dev/null; then
  echo "a document without SubnetMask passed the schema" >&2
  exit 1
fi
echo "$count documents valid; one without SubnetMask refused"
