"$FORGE" sample .
# Block 173 holds a piece of a chained SCOTT.DOCS row: zeroed.
dd if=/dev/zero of=users01.dbf bs=8192 seek=173 count=1 conv=notrunc 2>/dev/null
