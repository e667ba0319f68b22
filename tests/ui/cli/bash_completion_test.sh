#!/usr/bin/env bash
# bash_completion_test.sh TARVIX_FLASH: what the bash completion offers, with bash-completion's
# _init_completion stood in.
source <("$1" completion bash) || exit 1
_init_completion() {
  words=("${COMP_WORDS[@]}") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
}
offers() {
  COMP_WORDS=("${@:2}") COMP_CWORD=$(($# - 2))
  _tarvix_flash
  [[ "${COMPREPLY[*]}" == "$1" ]] || { echo "${*:2}: '${COMPREPLY[*]}', not '$1'"; exit 1; }
}
offers "flash" tarvix-flash fl
offers "--all --allow-older --allow-reinstall" tarvix-flash -q flash --al
offers "" tarvix-flash info --al
offers "boot,app" tarvix-flash --virtual boot,
echo "ok"
