#!/usr/bin/perl
# widl (7.0) writes the time of its run into a type library twice: as text in
# its "Created by WIDL version ... at <time>" note and as a number (VT_UI4)
# beside it. Both become the epoch, so that the same IDL always gives the same
# bytes; the build runs widl with TZ=UTC, so the text reads back exactly.
#   deterministic-tlb.pl <file.tlb>
use strict;
use warnings;
use Time::Local qw(timegm);

my $file = shift or die "usage: deterministic-tlb.pl <file.tlb>\n";
open(my $in, '<:raw', $file) or die "$file: $!\n";
my $data = do { local $/; <$in> };
close $in;
my %month = (Jan => 0, Feb => 1, Mar => 2, Apr => 3, May => 4, Jun => 5,
             Jul => 6, Aug => 7, Sep => 8, Oct => 9, Nov => 10, Dec => 11);
my $note = qr/(Created by WIDL version [^\n]* at )\w{3} (\w{3}) +(\d+) (\d\d):(\d\d):(\d\d) (\d{4})/;
$data =~ $note or die "$file: no WIDL note\n";
my $stamp = pack('V', timegm($6, $5, $4, $3, $month{$2}, $7));
my $found = ($data =~ s/\x13\x00\Q$stamp\E/\x13\x00\x00\x00\x00\x00/g);
die "$file: the time beside the note was not found\n" unless $found == 1;
$data =~ s/$note/${1}Thu Jan  1 00:00:00 1970/;
open(my $out, '>:raw', $file) or die "$file: $!\n";
print $out $data;
close $out or die "$file: $!\n";
