"$FORGE" sample .
# A misplaced write: block 172, which holds a piece of a chained SCOTT.DOCS
# row, carries a copy of block 169 (another DOCS block, its slot 0 included).
dd if=users01.dbf of=users01.dbf bs=8192 skip=169 seek=172 count=1 conv=notrunc 2>/dev/null
