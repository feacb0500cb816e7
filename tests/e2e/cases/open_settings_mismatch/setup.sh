# The sample database, a copy of users01.dbf whose first megabyte is
# overwritten (with fixed noise, so that the listing never changes), one more
# whose noise holds what looks like another file's data block, a file
# behind a leading header its configuration line does not give, and a bigfile.
"$FORGE" sample .
cp users01.dbf users_mb.dbf
python3 -c '
import random, sys
random.seed(25)
sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(1048576)))' > noise.bin
dd if=noise.bin of=users_mb.dbf bs=1048576 count=1 conv=notrunc status=none
echo users_mb.dbf > mb.cfg
# Block 3 of the noise looks like a data block of relative file 76.
cp users_mb.dbf users_fake.dbf
printf '\006\242\000\000\003\000\000\023' | dd of=users_fake.dbf bs=1 seek=24576 conv=notrunc status=none
echo users_fake.dbf > fake.cfg
cat > other.txt <<'DESC'
dbname PROBEDB
file raw.dbf rfn 10 ts 9 header 4096 blocks 30
file bigfile.dbf rfn 0 ts 8 bigfile blocks 30
DESC
"$FORGE" other.txt .
echo raw.dbf > raw.cfg
echo bigfile.dbf > bigfile.cfg
