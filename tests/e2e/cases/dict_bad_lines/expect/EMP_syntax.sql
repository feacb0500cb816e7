CREATE TABLE "EMP" (
 "EMPNO"  NUMBER(4) NOT NULL ,
 "Unit Price, EUR"  NUMBER(7,2)  ,
 "SAL"  NUMBER  ,
 "Two
Lines"  VARCHAR2(10)  
);
exit;
