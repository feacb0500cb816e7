# One file per block size and byte order, each a little over a megabyte with
# data blocks behind the first megabyte; then two damaged copies of each: the
# first megabyte overwritten, or the header block (block 1) alone, with
# fixed noise so that no run differs from another.
python3 -c '
import random, sys
random.seed(25)
sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(1048576)))' > noise.bin
n=5
for size in 2048 4096 8192 16384 32768; do
  for order in little big; do
    name=b$((size / 1024))k_$order
    first=$((1048576 / size + 2))
    {
      echo "dbname PROBEDB"
      echo "file $name.dbf rfn $n ts 6 blocksize $size byteorder $order blocks $((first + 6))"
      for b in $(seq "$first" $((first + 3))); do
        printf 'block %s\n  data objd 77\n  row num 1\n' "$b"
      done
    } > "$name.txt"
    "$FORGE" "$name.txt" .
    cp "$name.dbf" "${name}_mb.dbf"
    dd if=noise.bin of="${name}_mb.dbf" bs=1048576 count=1 conv=notrunc status=none
    cp "$name.dbf" "${name}_hd.dbf"
    dd if=noise.bin of="${name}_hd.dbf" bs="$size" seek=1 count=1 conv=notrunc status=none
    n=$((n + 1))
  done
done
# A raw device copy: a leading header of 64 KB before block 0, block 1 overwritten.
{
  echo "dbname PROBEDB"
  echo "file raw.dbf rfn 15 ts 6 header 65536 blocksize 8192 byteorder big blocks 12"
  for b in 4 5 6; do printf 'block %s\n  data objd 77\n  row num 1\n' "$b"; done
} > raw.txt
"$FORGE" raw.txt .
dd if=noise.bin of=raw.dbf bs=8192 seek=9 count=1 conv=notrunc status=none
