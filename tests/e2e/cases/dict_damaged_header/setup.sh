# The sample database with the extent of cluster C_OBJ# (TAB$, COL$) cut
# from 10 blocks to 2 in its segment header, the checksum resealed.
"$FORGE" sample .
printf 'damage system01.dbf hex 8 112 02000000\ndamage system01.dbf reseal 8\n' >> sample.forge
"$FORGE" sample.forge .
