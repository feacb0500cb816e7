"$FORGE" db.txt .
head -c 98304 /dev/zero > zeros.dbf
printf '# datafiles of ZOR\n\n\t  \n\tsystem01.dbf\n  # indented comment\nusers01.dbf\nraw01.img 4096 two more\nzeros.dbf\nmissing.dbf 512\n   users02.dbf\n+256\n' > db.cfg
