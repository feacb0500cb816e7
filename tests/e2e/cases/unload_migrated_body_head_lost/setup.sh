"$FORGE" sample .
# Block 171 of SCOTT.DOCS holds the last piece of row 2 and the head of the
# migrated row 3, whose body is in block 172: zeroed.
dd if=/dev/zero of=users01.dbf bs=8192 seek=171 count=1 conv=notrunc 2>/dev/null
