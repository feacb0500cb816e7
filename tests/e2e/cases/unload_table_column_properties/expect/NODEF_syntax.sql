CREATE TABLE "NODEF" (
 "ID"  NUMBER  ,
 "STAMP"  NUMBER  /* NOT NULL in Oracle, but rows from before the ADD have no default here */ 
);
exit;
