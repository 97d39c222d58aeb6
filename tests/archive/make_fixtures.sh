#!/bin/sh
# Makes the tar fixtures of the archive tests with GNU tar and gzip: a tree of files
# (nested folders, empty files and folders, long names, sizes around the block and chunk
# boundaries) and archives of it in the formats a current tar writes.
set -eu
out=$1
rm -rf "$out"
mkdir -p "$out/src/tree/sub/deeper" "$out/src/tree/emptydir"
cd "$out/src"
long_folder=a_folder_name_long_enough_that_the_whole_entry_path_needs_a_gnu_long_name
long_file=and_a_file_name_that_is_also_rather_long_to_pass_one_hundred_bytes.txt
mkdir "tree/$long_folder"
printf 'hello from a tar archive\r\n' > tree/readme.txt
printf 'words with spaces\n' > "tree/sub/name with spaces.txt"
: > tree/empty.dat
: > tree/sub/deeper/empty-too.dat
head -c 512 /dev/urandom > tree/exact512.bin
head -c 65536 /dev/urandom > tree/sub/chunk.bin
head -c 66049 /dev/urandom > tree/sub/chunkplus.bin
head -c 200003 /dev/urandom > tree/sub/deeper/blob.bin
printf 'a long path\n' > "tree/$long_folder/$long_file"

tar --format=gnu -cf ../gnu.tar tree
tar --format=gnu -cf - tree | gzip -9 > ../gnu.tgz
tar -czf ../default.tar.gz tree
# A long comment gives every entry an extended header of two blocks.
comment=$(head -c 700 /dev/zero | tr '\0' 'c')
tar --format=pax --pax-option="comment=$comment" -czf ../pax.tgz tree
