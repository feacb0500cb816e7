"$FORGE" sample .
"$FORGE" lost.txt .
# Every reason a block below the high-water mark is not read, on the
# sample's users01.dbf (8 KB blocks, no leading header).
put() { printf "$3" | dd of=users01.dbf bs=1 seek=$(($1 * 8192 + $2)) conv=notrunc 2>/dev/null; }
# DEPT's data block (129) is overwritten by EMP's (137): a misplaced write.
dd if=users01.dbf of=users01.dbf bs=8192 skip=137 seek=129 count=1 conv=notrunc 2>/dev/null
# EMP's only data block: zeros.
dd if=/dev/zero of=users01.dbf bs=8192 seek=137 count=1 conv=notrunc 2>/dev/null
# SALES P2023 (147): one byte of free space changed, so only its checksum fails.
put 147 4000 '\001'
# SALES P2024 (155): data object id 9999, with the free-space word that
# keeps its checksum good (73192 ^ 9999 = 0x13ae7).
put 155 24 '\017\047\000\000'
put 155 4000 '\347\072\001\000'
# SALES PMAX (163) and everything after it: cut off.
truncate -s $((163 * 8192)) users01.dbf
