#!/bin/sh
# Prints a UTF-8 text as a C++ string literal of its Shift-JIS bytes, every
# byte escaped, so that no trail byte 0x5C or hex-looking letter can change
# the meaning of the literal.   usage: tools/sjis_literal.sh 'リセットに失敗しました'
printf '%s' "$1" | iconv -f UTF-8 -t SHIFT_JIS | od -An -v -tx1 | tr -s ' \n' ' ' |
  sed 's/^ //; s/ $//; s/ /\\x/g; s/^/"\\x/; s/$/"/'
echo
