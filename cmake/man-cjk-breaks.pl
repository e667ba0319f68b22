#!/usr/bin/perl
# man-cjk-breaks.pl < PAGE > PAGE: lets groff break a line of Chinese text between two characters
# (it breaks only at spaces otherwise, and Chinese has none) by putting the break point \: after
# each Chinese character that no punctuation follows. Request lines are left as they are.
use strict;
use warnings;
binmode STDIN, ':encoding(UTF-8)';
binmode STDOUT, ':encoding(UTF-8)';
while (my $line = <STDIN>) {
  $line =~ s/([\x{3400}-\x{9fff}\x{3000}-\x{303f}\x{ff00}-\x{ffef}])(?=[^\x{3000}-\x{303f}\x{ff00}-\x{ffef}\n])/$1\\:/g
    unless $line =~ /^[.']/;
  print $line;
}
