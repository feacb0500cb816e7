# The sample database in a two-disk group whose files need indirect extents.
"$FORGE" sample --asm . --disks 2 --direct 1 --per-block 1
printf '# the group\n\ndisk0.img  \t\ndisk1.img\n' > disks.lst
