# The sample database inside a disk group; its plain datafiles are moved
# aside, so that everything below is read from the disk images alone.
"$FORGE" sample --asm .
mkdir orig
mv system01.dbf users01.dbf orig/
