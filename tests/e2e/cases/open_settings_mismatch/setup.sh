# The sample database, a copy of users01.dbf whose first megabyte is
# overwritten (with fixed noise, so that the listing never changes), a file
# behind a leading header its configuration line does not give, and a bigfile.
"$FORGE" sample .
cp users01.dbf users_mb.dbf
python3 -c '
import random, sys
random.seed(25)
sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(1048576)))' > noise.bin
dd if=noise.bin of=users_mb.dbf bs=1048576 count=1 conv=notrunc status=none
echo users_mb.dbf > mb.cfg
cat > other.txt <<'DESC'
dbname PROBEDB
file raw.dbf rfn 10 ts 9 header 4096 blocks 30
file bigfile.dbf rfn 0 ts 8 bigfile blocks 30
DESC
"$FORGE" other.txt .
echo raw.dbf > raw.cfg
echo bigfile.dbf > bigfile.cfg
