CREATE TABLE "A$B" (
 "X"  NUMBER  ,
 "Y"  VARCHAR2(20)  
);
exit;
