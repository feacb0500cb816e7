# SCOTT.WIDE: 300 columns, so that each row is two pieces and its last
# column, a SecureFile CLOB, lies in the piece a chain leads to.
{
  cat sf.txt
  echo "table SCOTT.WIDE obj 74010"
  for i in $(seq 1 299); do echo "  column C$i number"; done
  echo "  column DOC clob"
  echo "segment SCOTT.WIDE"
  echo "  extent users01.dbf 144 8"
  for r in 1 2; do echo "  insert values $(seq -s ' ' $r $((r + 298))) @securefile:wide$r"; done
  echo "lob SCOTT.WIDE DOC objd 74011 index 74012 segment users01.dbf 96 40 indexat users01.dbf 216 8 firstid 0x5000"
  echo "dictionary system01.dbf from 8"
  echo "config zor.cfg"
} | grep -v '^dictionary system01.dbf from 8$\|^config zor.cfg$' > all.txt
printf 'dictionary system01.dbf from 8\nconfig zor.cfg\n' >> all.txt
"$FORGE" all.txt .
