#!/usr/bin/env bash
# Makes a man page from a program's own --help text, so the page never drifts from the program.
#
#   help-to-man.sh -o OUT -n NAME -s SECTION -v VERSION -d SUMMARY -- COMMAND [ARG]...
#
# Runs COMMAND (usually `PROGRAM --help`) and writes a roff page to OUT with NAME (NAME - SUMMARY),
# SYNOPSIS (the help's "Usage:" line and any "or:" lines after it, else "NAME [OPTION]...") and
# DESCRIPTION (the rest of the help text, laid out as printed). Fails, and leaves OUT untouched, when
# COMMAND fails or prints nothing.
set -euo pipefail

usage() {
  echo "usage: $0 -o OUT -n NAME -s SECTION -v VERSION -d SUMMARY -- COMMAND [ARG]..." >&2
  exit 2
}

out= name= section= version= summary=
while getopts "o:n:s:v:d:" opt; do
  case "$opt" in
    o) out=$OPTARG ;;
    n) name=$OPTARG ;;
    s) section=$OPTARG ;;
    v) version=$OPTARG ;;
    d) summary=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ -n "$out" ] && [ -n "$name" ] && [ -n "$section" ] && [ -n "$version" ] && [ -n "$summary" ] || usage
[ $# -gt 0 ] || usage

help=$("$@") || { echo "$0: '$*' failed" >&2; exit 1; }
if [ -z "${help//[[:space:]]/}" ]; then
  echo "$0: '$*' printed nothing" >&2
  exit 1
fi

# Text to roff: a backslash is printed with \e, a minus sign with \- (so options can be copied), and a
# line that starts with a control character gets \& in front so it is not read as a request.
escape() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

usage_re='^[Uu]sage:[[:space:]]*'
or_re='^[[:space:]]+or:[[:space:]]*'
synopsis=()
description=()
state=start
while IFS= read -r line; do
  case "$state" in
    start)
      if [ -z "${line//[[:space:]]/}" ]; then continue; fi
      if [[ "$line" =~ $usage_re ]]; then
        synopsis+=("${line#"${BASH_REMATCH[0]}"}")
        state=usage
        continue
      fi
      state=body
      ;;
    usage)
      if [[ "$line" =~ $or_re ]]; then
        synopsis+=("${line#"${BASH_REMATCH[0]}"}")
        continue
      fi
      state=body
      ;;
  esac
  description+=("$line")
done <<<"$help"
if [ ${#synopsis[@]} -eq 0 ]; then
  synopsis=("$name [OPTION]...")
fi
# Blank lines at either end of the description say nothing.
while [ ${#description[@]} -gt 0 ] && [ -z "${description[0]//[[:space:]]/}" ]; do
  description=("${description[@]:1}")
done
while [ ${#description[@]} -gt 0 ] && [ -z "${description[-1]//[[:space:]]/}" ]; do
  unset 'description[-1]'
done

tmp=$(mktemp "$out.XXXXXX")
trap 'rm -f "$tmp"' EXIT
{
  upper=$(printf '%s' "$name" | tr '[:lower:]' '[:upper:]' | escape)
  printf '.TH %s %s "" "%s" "User Commands"\n' "$upper" "$section" "$(printf '%s' "$name $version" | escape)"
  printf '.SH NAME\n%s \\- %s\n' "$(printf '%s' "$name" | escape)" "$(printf '%s' "$summary" | escape)"
  printf '.SH SYNOPSIS\n'
  for s in "${synopsis[@]}"; do
    command=${s%%[[:space:]]*}
    rest=${s#"$command"}
    rest=${rest#"${rest%%[![:space:]]*}"}
    printf '.B %s\n' "$(printf '%s' "$command" | escape)"
    if [ -n "$rest" ]; then printf '%s\n' "$rest" | escape; fi
    printf '.br\n'
  done
  if [ ${#description[@]} -gt 0 ]; then
    printf '.SH DESCRIPTION\n.nf\n'
    printf '%s\n' "${description[@]}" | escape
    printf '.fi\n'
  fi
} >"$tmp"
chmod 644 "$tmp"
mv -f "$tmp" "$out"
trap - EXIT
