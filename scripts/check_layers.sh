#!/usr/bin/env bash
# Checks that the folders of src/ include each other only downward:
#   shell, doctor -> blade -> remote, sound -> core, platform, hid
# with config.h open to all, and on the bottom floor core and hid standing on
# platform. Prints every include that breaks the order and fails if any does;
# then lets tsort look for a loop among the folders all the same.
set -uo pipefail
cd "$(dirname "$0")/../src"

floor() {
  case $1 in
    shell | doctor) echo 3 ;; blade) echo 2 ;; remote | sound) echo 1 ;; core | platform | hid) echo 0 ;;
    *) echo "" ;;
  esac
}

bad=0
edges=""
while IFS=: read -r file include; do
  from=${file%%/*}
  to=${include%%/*}
  [ "$include" = config.h ] && continue
  edges+="$from $to"$'\n'
  [ "$from" = "$to" ] && continue
  from_floor=$(floor "$from")
  to_floor=$(floor "$to")
  if [ -z "$from_floor" ] || [ -z "$to_floor" ]; then
    echo "$file: includes $include, outside the known folders"
    bad=1
  elif [ "$to_floor" -gt "$from_floor" ] ||
       { [ "$to_floor" -eq "$from_floor" ] && [ "$to" != platform ]; }; then
    echo "$file: $from includes $include, which is not below it"
    bad=1
  fi
done < <(grep -rHo '^#include "[^"]*"' --include='*.h' --include='*.cpp' . |
         sed 's|^\./||; s|:#include "|:|; s|"$||')

if ! echo -n "$edges" | tsort >/dev/null 2>&1; then
  echo "the folders include each other in a loop:"
  echo -n "$edges" | tsort 2>&1 >/dev/null
  bad=1
fi
[ "$bad" -eq 0 ] && echo "src/ folders form floors, no include loop"
exit "$bad"
