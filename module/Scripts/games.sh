#!/system/bin/sh
# The one way to change the game list; the page, action.sh and a root shell all use it.
#   games.sh list           the listed packages, one a line
#   games.sh add PKG...     list them (a missing game.txt is created)
#   games.sh remove PKG...  unlist them
#   games.sh check          each line that can never match, with its number and why
#   games.sh fix            rewrite such lines to the clean name, keep everything else
# Lines it does not touch stay byte for byte (CRLF files stay CRLF), and every change goes to a
# temporary file in the same directory that then replaces game.txt, so a failed write leaves
# the old list as it was.
scripts=${0%/*}
moddir=${scripts%/*}
# shellcheck source=Scripts/governors.sh
. "$scripts/governors.sh"
run_under_manager_busybox "$@"
LC_ALL=C
export LC_ALL
list=${TESSIVAR_GAME_LIST:-$moddir/game.txt}
if command -v printf > /dev/null 2>&1; then
  cr=$(printf '\r')
  bom=$(printf '\357\273\277')
else
  cr=$(print -n '\r')
  bom=$(print -n '\0357\0273\0277')
fi

# Without the line end; what the daemon compares.
say_n() { if command -v printf > /dev/null 2>&1; then printf '%s' "$*"; else print -n -r -- "$*"; fi; }

valid_package() {
  [ "${#1}" -le 254 ] || return 1
  case $1 in
    '' | *[!A-Za-z0-9_.]* | [!A-Za-z]* | *. | *..* | *.[!A-Za-z]*) return 1 ;;
    *.*) return 0 ;;
  esac
  return 1
}

# The entry a line holds for the daemon: up to its first CR.
entry_of() { say "${1%%"$cr"*}"; }

trim() {
  t=$1
  while :; do
    case $t in
      [' 	']*) t=${t#?} ;;
      *[' 	']) t=${t%?} ;;
      *) break ;;
    esac
  done
  say "$t"
}

# What is wrong with an entry that can never match, in `reasons`, and the clean name it should
# be, in `clean`; `reasons` stays empty for an entry that is fine, a blank line or a comment.
diagnose() {  # entry line-number
  d=$1
  reasons=
  clean=
  case $2:$d in 1:"$bom"*) d=${d#"$bom"}; reasons="a byte-order mark" ;; esac
  case $d in '' | '#'*) reasons=; return 0 ;; esac
  clean=$(trim "$d")
  [ "$clean" = "$d" ] || reasons="${reasons:+$reasons, }surrounding whitespace"
  case $clean in
    *[' 	']'#'*)
      clean=$(trim "${clean%%[' 	']#*}")
      reasons="${reasons:+$reasons, }an inline comment" ;;
  esac
  case $clean in
    '' | '#'*) ;;
    *) valid_package "$clean" || reasons="${reasons:+$reasons, }not a valid Android package name" ;;
  esac
}

# Rewrites the list through a function that is given each line (without its LF) and prints
# what replaces it; the new list replaces the old only when it was written whole.
rewrite() {  # function
  tmp=$list.$$.tmp
  n=0
  # A subshell, so that the first failed write ends it with a failure.
  if [ -f "$list" ]; then
    (
      while IFS= read -r line || [ -n "$line" ]; do
        n=$((n + 1))
        "$1" "$line" "$n" || exit 1
      done < "$list"
      "$1" '' end
    ) 2> /dev/null > "$tmp"
  else
    ("$1" '' end) 2> /dev/null > "$tmp"
  fi
  status=$?
  if [ "$status" = 0 ] && mv -f "$tmp" "$list" 2> /dev/null; then return 0; fi
  rm -f "$tmp" 2> /dev/null
  say "games.sh: could not write $list; the list is unchanged" >&2
  return 1
}

# Whether the file's lines end in CR LF, and whether its last line has an end.
line_end() {
  le=
  if [ -f "$list" ] && IFS= read -r first < "$list"; then
    case $first in *"$cr") le=$cr ;; esac
  fi
  say "$le"
}
ends_with_newline() {
  [ ! -s "$list" ] && return 0
  last=
  while IFS= read -r last; do :; done < "$list"
  [ -z "$last" ]
}

# Keeps every line as it was; the final line keeps its missing end.
keep_line() {
  [ "$2" = end ] && return 0
  if [ "$2" = "$lines" ] && [ "$unterminated" = 1 ]; then say_n "$1"; else say "$1"; fi
}
count_lines() {
  lines=0
  [ -f "$list" ] || return 0
  while IFS= read -r l || [ -n "$l" ]; do lines=$((lines + 1)); done < "$list"
  if ends_with_newline; then unterminated=0; else unterminated=1; fi
}

add_line() {
  if [ "$2" = end ]; then
    [ "$unterminated" = 1 ] && say "$eol"
    for p in $wanted; do say "$p$eol"; done
    return 0
  fi
  keep_line "$1" "$2"
}
remove_line() {
  [ "$2" = end ] && return 0
  e=$(entry_of "$1")
  for p in $unwanted; do [ "$e" = "$p" ] && return 0; done
  keep_line "$1" "$2"
}
fix_line() {
  [ "$2" = end ] && return 0
  e=$(entry_of "$1")
  rest=${1#"$e"}
  diagnose "$e" "$2"
  case $reasons in
    *'not a valid'* | '') keep_line "$1" "$2" ;;
    *) keep_line "$clean$rest" "$2" ;;
  esac
}

listed() {
  [ -f "$list" ] || return 0
  while IFS= read -r line || [ -n "$line" ]; do
    e=$(entry_of "$line")
    case $e in '' | '#'*) ;; *) say "$e" ;; esac
  done < "$list"
}

validate_all() {
  [ $# -gt 0 ] || { say "games.sh: name at least one package" >&2; exit 2; }
  for p in "$@"; do
    valid_package "$p" || { say "games.sh: refusing '$p': not a valid Android package name; nothing changed" >&2; exit 2; }
  done
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  list) listed ;;
  add)
    validate_all "$@"
    wanted=
    current=$(listed)
    for p in "$@"; do
      case "
$current
$wanted " in *"
$p
"* | *" $p "*) continue ;; esac
      wanted="$wanted $p"
    done
    [ -n "$wanted" ] || { say "games.sh: already listed; nothing changed"; exit 0; }
    eol=$(line_end)
    count_lines
    rewrite add_line || exit 1
    for p in $wanted; do say "added $p"; done
    ;;
  remove)
    validate_all "$@"
    unwanted="$*"
    count_lines
    rewrite remove_line || exit 1
    for p in "$@"; do say "removed $p"; done
    ;;
  check)
    [ -f "$list" ] || exit 0
    n=0
    while IFS= read -r line || [ -n "$line" ]; do
      n=$((n + 1))
      diagnose "$(entry_of "$line")" "$n"
      case $reasons in
        '') ;;
        *'not a valid'*) say "line $n: $reasons: '$clean'" ;;
        *) say "line $n: $reasons; fix makes it '$clean'" ;;
      esac
    done < "$list"
    ;;
  fix)
    [ -f "$list" ] || exit 0
    count_lines
    rewrite fix_line || exit 1
    ;;
  *)
    say "usage: games.sh list | add PKG... | remove PKG... | check | fix" >&2
    exit 2
    ;;
esac
