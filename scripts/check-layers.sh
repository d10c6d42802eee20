#!/usr/bin/env bash
# Fails when a library source includes a header from a folder it may not depend on. The folders depend one way:
# core and values (which need each other) < files < json < system < intl < app. Tests, benchmarks and fuzz targets
# may include anything and are not scanned.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

folders=(core values files json system intl app)

# The allowed edges, one row per folder (or per file, for an edge its folder does not have): the folders it may
# include, and why. Any other include of a header of another folder fails.
read -r -d '' allowed_edges <<'EDGES' || true
core                 | values                               | VString is a value: strings and values need each other
values               | core                                 | values are made of strings, errors and reference counting
files                | core values                          | streams carry strings and the values they store
json                 | core values files                    | the JSON model holds strings and values, read from streams
system               | core values files json               | the system facade answers in strings and sits on the rest
intl                 | core values files json system        | locales format times and durations and follow the zone
app                  | core values files json system intl   | the logger sits on the whole foundation
core/VErrorBase.cpp          | json                | an error's parameters are a JSON object
core/VTask.cpp               | intl                | a task keeps its own locale
core/VTaskMgr.cpp            | intl json           | the main task's locale goes with it; start-up reads spinlock.prm
values/ParseXMLValue.cpp     | intl                | numbers are read with the current locale's separators
values/VPackedDictionary.cpp | files               | the stream form of packed dictionaries
values/VTime.cpp             | intl system         | local time follows the system zone; texts follow the current locale
EDGES

declare -A allowed
while IFS='|' read -r from targets _; do
    read -r from <<<"$from"
    [[ -z "$from" ]] && continue
    for to in $targets; do
        allowed["$from>$to"]=1
    done
done <<<"$allowed_edges"

failures=0
while IFS=: read -r file line text; do
    include="$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")"
    [[ "$include" == */* ]] || continue
    to="${include%%/*}"
    from="${file%%/*}"
    [[ " ${folders[*]} " == *" $to "* && "$to" != "$from" ]] || continue
    [[ -n "${allowed["$from>$to"]:-}" || -n "${allowed["$file>$to"]:-}" ]] && continue
    echo "check-layers: $file:$line includes \"$include\": $from -> $to is not an allowed edge" >&2
    failures=$((failures + 1))
done < <(grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${folders[@]}")

if ((failures > 0)); then
    echo "check-layers: $failures include(s) against the folder order; see the table in scripts/check-layers.sh" >&2
    exit 1
fi
