#!/usr/bin/env bash
# Checks that every relative link in README.md and the pages under docs/ leads
# somewhere: the file or folder exists, and a #anchor names a heading (or an
# <a id/name>) of the page it points into, the way GitHub forms anchors. Prints
# file:line and the broken link for each fault and fails when there is one.
# Links with a scheme (https:, mailto:) are not followed.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

pages=(README.md)
while IFS= read -r -d '' page; do pages+=("$page"); done < <(find docs -name '*.md' -print0 | sort -z)

# Pass 1 learns every page's anchors; pass 2 checks the links of every page.
# A link into a file prints "path<TAB>where<TAB>link<TAB>anchor" for the shell
# to test, since awk cannot ask whether a file or folder exists; anchor is 1
# when the link names an anchor in a page outside README.md and docs/. Bytes
# are compared as bytes (LC_ALL=C): letters outside ASCII are kept but not
# lowered. Plain POSIX awk (Debian's mawk knows no {m,n} repeats).
# shellcheck disable=SC2016 # the $ in the program are awk's own
check_awk='
function fail(why) { printf "%s:%d: broken link %s: %s\n", FILENAME, FNR, target, why; faults++ }

# GitHub: the heading text as rendered, lower-cased, everything but letters,
# digits, blanks, "-" and "_" dropped, blanks to "-"; repeats get -1, -2, ...
function anchor_of(text,    out, i, c, base) {
  while (match(text, /!?\[[^]]*\]\([^)]*\)/)) {
    c = substr(text, RSTART, RLENGTH); sub(/^!?\[/, "", c); sub(/\]\(.*$/, "", c)
    text = substr(text, 1, RSTART - 1) c substr(text, RSTART + RLENGTH)
  }
  gsub(/<[^>]*>/, "", text)
  text = tolower(text); out = ""
  for (i = 1; i <= length(text); i++) {
    c = substr(text, i, 1)
    if (index("abcdefghijklmnopqrstuvwxyz0123456789-_", c) || c >= "\200") out = out c
    else if (c == " ") out = out "-"
  }
  base = out
  if ((FILENAME, base) in seen) out = base "-" seen[FILENAME, base]
  seen[FILENAME, base]++
  return out
}

# Folds "a/./b/../c" to "a/c" from the folder of the current page; "" when
# the path leaves the repository.
function resolve(path,    dir, n, parts, i, out, m, stack) {
  if (substr(path, 1, 1) == "/") path = substr(path, 2)
  else { dir = FILENAME; if (!sub(/\/[^\/]*$/, "", dir)) dir = ""; if (dir != "") path = dir "/" path }
  n = split(path, parts, "/"); m = 0
  for (i = 1; i <= n; i++) {
    if (parts[i] == "" || parts[i] == ".") continue
    if (parts[i] == "..") { if (m == 0) return ""; m--; continue }
    stack[++m] = parts[i]
  }
  out = ""
  for (i = 1; i <= m; i++) out = out (i > 1 ? "/" : "") stack[i]
  return out == "" ? "." : out
}

function unescape(s,    out, hex, i) {
  hex = "0123456789abcdef"; out = ""
  for (i = 1; i <= length(s); i++) {
    if (substr(s, i, 1) == "%" && index(hex, tolower(substr(s, i + 1, 1))) && index(hex, tolower(substr(s, i + 2, 1)))) {
      out = out sprintf("%c", (index(hex, tolower(substr(s, i + 1, 1))) - 1) * 16 + index(hex, tolower(substr(s, i + 2, 1))) - 1)
      i += 2
    } else out = out substr(s, i, 1)
  }
  return out
}

function check(link,    path, anchor, hash, file) {
  target = link
  if (link ~ /^[A-Za-z][A-Za-z0-9+.-]*:/ || link ~ /^\/\//) return
  hash = index(link, "#")
  if (hash) { path = substr(link, 1, hash - 1); anchor = substr(link, hash + 1) } else { path = link; anchor = "" }
  if (path == "") file = FILENAME
  else {
    file = resolve(unescape(path))
    if (file == "") { fail("it leaves the repository"); return }
    printf "%s\t%s:%d\t%s\t%d\n", file, FILENAME, FNR, link, hash && file ~ /\.md$/ && !(file in page) > paths
  }
  if (hash == 0) return
  # GitHub shows any other file with its lines as anchors: #L12, #L12-L20.
  if (file !~ /\.md$/) { if (anchor !~ /^L[0-9]+(-L[0-9]+)?$/) fail("an anchor into a file that is not a page"); return }
  if (!(file in page)) return
  if (!((file, anchor) in anchors)) fail("no heading of " file " has the anchor #" anchor)
}

FNR == 1 { fence = ""; previous_blank = 1; code = 0; paragraph = "" }
pass == 1 && FNR == 1 { page[FILENAME] = 1 }

# Fenced and indented code holds no links and no headings.
{
  line = $0
  if (fence != "") { if (line ~ ("^ ? ? ?" fence)) { fence = ""; previous_blank = 1 }; next }
  if (match(line, /^ ? ? ?(```+|~~~+)/)) { fence = substr(line, RSTART, RLENGTH); sub(/^ +/, "", fence); next }
  if (line ~ /^(    |\t)/ && (previous_blank || code)) { code = 1; next }
  code = 0
  blank = line ~ /^[ \t]*$/
}

pass == 1 {
  if (match(line, /^ ? ? ?#+([ \t]|$)/)) {
    text = substr(line, RLENGTH + 1); sub(/[ \t]+#+[ \t]*$/, "", text); sub(/^[ \t]+/, "", text); sub(/[ \t]+$/, "", text)
    anchors[FILENAME, anchor_of(text)] = 1; paragraph = ""
  } else if (!blank && paragraph != "" && line ~ /^ ? ? ?(=+|-+)[ \t]*$/) {
    anchors[FILENAME, anchor_of(paragraph)] = 1; paragraph = ""
  } else paragraph = blank ? "" : line
  rest = line
  while (match(rest, /<a [^>]*(id|name)="[^"]*"/)) {
    value = substr(rest, RSTART, RLENGTH); sub(/^.*(id|name)="/, "", value); sub(/"$/, "", value)
    anchors[FILENAME, value] = 1; rest = substr(rest, RSTART + RLENGTH)
  }
}

pass == 2 {
  gsub(/``[^`]*``|`[^`]*`/, "code", line)
  rest = line
  while (match(rest, /\]\([^)]*\)/)) {
    link = substr(rest, RSTART + 2, RLENGTH - 3); rest = substr(rest, RSTART + RLENGTH)
    if (link ~ /^</) { sub(/^</, "", link); sub(/>.*$/, "", link) } else sub(/[ \t].*$/, "", link)
    check(link)
  }
  if (match(line, /^ ? ? ?\[[^]]+\]:[ \t]*[^ \t]+/)) { link = line; sub(/^ ? ? ?\[[^]]+\]:[ \t]*/, "", link); sub(/[ \t].*$/, "", link); sub(/^</, "", link); sub(/>$/, "", link); check(link) }
}

{ previous_blank = blank }
END { exit faults > 0 }
'

paths_file=$(mktemp)
trap 'rm -f "$paths_file"' EXIT
status=0
LC_ALL=C awk -v paths="$paths_file" "$check_awk" pass=1 "${pages[@]}" pass=2 "${pages[@]}" || status=1
while IFS=$'\t' read -r path where link anchor; do
  if [ ! -e "$path" ]; then
    echo "$where: broken link $link: $path does not exist"; status=1
  elif [ "$anchor" = 1 ]; then
    echo "$where: broken link $link: anchors are checked only in README.md and docs/"; status=1
  fi
done < "$paths_file"
[ "$status" = 0 ] && echo "check-links: every link resolves (README.md and $((${#pages[@]} - 1)) pages under docs/)"
exit "$status"
