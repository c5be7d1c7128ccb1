#!/usr/bin/env bash
# The include rule of src/ (docs/architecture.md): each folder includes only the folders below
# it, always as "folder/file.h" (a file of its own folder by its bare name), never upward and
# never by a relative path.
#   layering-test.sh SRC_DIR
# One exception: the bank's Windows seams (*.win.cpp) use platform. The resource scripts (res/)
# take the dialogs' control IDs from ui/.
set -uo pipefail
src=$1
declare -A allowed=(
  [platform]=""
  [host]="platform"
  [device]="platform host"
  [ui]="platform host device"
  [fps]="platform host device ui bank"
  [bank]=""
  [res]="ui"
)
ours=" ${!allowed[*]} "
failures=0
checked=0
for folder in "${!allowed[@]}"; do
  for file in "$src/$folder"/*; do
    [ -f "$file" ] || continue
    name=$(basename "$file")
    may=" ${allowed[$folder]} "
    case "$folder/$name" in bank/*.win.cpp) may="$may platform " ;; esac
    while IFS=: read -r line include; do
      checked=$((checked + 1))
      case "$include" in
        ../* | ./*) echo "FAIL: $folder/$name:$line includes \"$include\" by a relative path"; failures=$((failures + 1)) ;;
        */*)
          top=${include%%/*}
          [[ "$ours" == *" $top "* ]] || continue  # another project's header
          if [ "$top" != "$folder" ] && [[ "$may" != *" $top "* ]]; then
            list=$(echo $may)
            echo "FAIL: $folder/$name:$line includes \"$include\": $folder may use ${list:-no other folder}"
            failures=$((failures + 1))
          fi
          ;;
        *)
          [ -f "$src/$folder/$include" ] ||
            { echo "FAIL: $folder/$name:$line includes \"$include\", which is no file of $folder/"; failures=$((failures + 1)); }
          ;;
      esac
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed 's/^\([0-9]*\):.*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1:\2/')
  done
done
[ $failures -eq 0 ] || { echo "$failures include(s) break the rule"; exit 1; }
echo "$checked includes in src/ follow the rule"
