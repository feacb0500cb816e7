"$FORGE" probe.txt .
head -c 9000 b4k.dbf > cut.dbf
head -c 100000 /dev/zero > zeros.dbf
echo "hello this is text" > text.dbf
echo raw.dbf > raw.cfg
