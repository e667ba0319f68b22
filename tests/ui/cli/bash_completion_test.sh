#!/usr/bin/env bash
# bash_completion_test.sh TARVIX_FLASH: what the bash completion offers, first in bash alone, then
# with bash-completion's _init_completion stood in.
source <("$1" completion bash) || exit 1
offers() {
  COMP_WORDS=("${@:2}") COMP_CWORD=$(($# - 2))
  _tarvix_flash
  [[ "${COMPREPLY[*]}" == "$1" ]] || { echo "${*:2}: '${COMPREPLY[*]}', not '$1'"; exit 1; }
}
folder=$(mktemp -d) && trap 'rm -rf "$folder"' EXIT
mkdir "$folder/old" && touch "$folder/fw.dat" "$folder/notes.txt"
for round in "bash alone" "bash-completion"; do
  offers "flash" "$1" fl
  offers "--all --allow-older --allow-reinstall" "$1" -q flash --al
  offers "" "$1" info --al
  offers "boot,app" "$1" --virtual boot,
  offers "TVX-VIRTUAL-0 TVX-VIRTUAL-1" "$1" --virtual boot,app flash --device TVX
  offers "9-2" "$1" --virtual=boot,app verify -d 9-2
  [[ $round == "bash alone" ]] && offers "$folder/old $folder/fw.dat" "$1" flash "$folder/"
  _init_completion() {
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
  }
done
echo "ok"
