CREATE TABLE "ENC" (
 "ID"  NUMBER  ,
 "SSN"  RAW(52)  /* TDE-encrypted VARCHAR2(11): its ciphertext */ ,
 "PAY"  RAW(68) NOT NULL /* TDE-encrypted NUMBER(8,2): its ciphertext */ 
);
exit;
