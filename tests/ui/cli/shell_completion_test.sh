#!/bin/sh
# shell_completion_test.sh SHELL TARVIX_FLASH: zsh reads its script without an error; fish, given
# its script, completes a command and the options of the command typed. Skipped without SHELL.
command -v "$1" >/dev/null || { echo "skipped: $1 is not installed"; exit 77; }
script=$(mktemp) && trap 'rm -f "$script"' EXIT
"$2" completion "$1" > "$script" || exit 1
case "$1" in
  zsh) zsh -n "$script" || exit 1 ;;
  fish)
    offered=$(fish -c "source $script; complete -C 'tarvix-flash fl'; complete -C 'tarvix-flash flash --allow-r'" | cut -f1 | tr '\n' ' ')
    [ "$offered" = "flash --allow-reinstall " ] || { echo "fish offered '$offered'"; exit 1; } ;;
esac
echo ok
