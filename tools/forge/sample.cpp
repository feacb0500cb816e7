// The sample database of `forge sample DIR` and `make demo`: a SYSTEM
// datafile with the data dictionary and a USERS datafile with the SCOTT
// schema, written from a description in the forge's own language (which is
// also left in the directory as sample.forge, to read or to change).
#include "forge/forge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace forge {

namespace {

const char kSample[] =
    "# The ZOR sample database: the data dictionary in system01.dbf, the SCOTT\n"
    "# schema in users01.dbf.  `forge sample DIR` writes it; `forge sample.forge DIR`\n"
    "# writes it again from this file.\n"
    "blocksize 8192\n"
    "byteorder little\n"
    "dbname ZORDEMO\n"
    "\n"
    "file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 256\n"
    "file users01.dbf  rfn 4 ts 4 tsname USERS  blocks 256\n"
    "\n"
    "user SYSTEM id 5\n"
    "user SCOTT id 83 tablespace 4\n"
    "\n"
    "# The classic pair.\n"
    "table SCOTT.DEPT obj 73180\n"
    "  column DEPTNO number(2) not null\n"
    "  column DNAME  varchar2(14)\n"
    "  column LOC    varchar2(13)\n"
    "segment SCOTT.DEPT\n"
    "  extent users01.dbf 128 8\n"
    "  insert values 10 ACCOUNTING \"NEW YORK\"\n"
    "  insert values 20 RESEARCH   DALLAS\n"
    "  insert values 30 SALES      CHICAGO\n"
    "  insert values 40 OPERATIONS BOSTON\n"
    "index SCOTT.PK_DEPT on DEPT obj 73181 unique\n"
    "\n"
    "table SCOTT.EMP obj 73182\n"
    "  column EMPNO    number(4) not null\n"
    "  column ENAME    varchar2(10)\n"
    "  column JOB      varchar2(9)\n"
    "  column MGR      number(4)\n"
    "  column HIREDATE date\n"
    "  column SAL      number(7,2)\n"
    "  column COMM     number(7,2)\n"
    "  column DEPTNO   number(2)\n"
    "segment SCOTT.EMP\n"
    "  extent users01.dbf 136 8\n"
    "  insert values 7369 SMITH  CLERK     7902 1980-12-17  800 null 20\n"
    "  insert values 7499 ALLEN  SALESMAN  7698 1981-02-20 1600  300 30\n"
    "  insert values 7521 WARD   SALESMAN  7698 1981-02-22 1250  500 30\n"
    "  insert values 7566 JONES  MANAGER   7839 1981-04-02 2975 null 20\n"
    "  insert values 7654 MARTIN SALESMAN  7698 1981-09-28 1250 1400 30\n"
    "  insert values 7698 BLAKE  MANAGER   7839 1981-05-01 2850 null 30\n"
    "  insert values 7782 CLARK  MANAGER   7839 1981-06-09 2450 null 10\n"
    "  insert values 7788 SCOTT  ANALYST   7566 1987-04-19 3000 null 20\n"
    "  insert values 7839 KING   PRESIDENT null 1981-11-17 5000 null 10\n"
    "  insert values 7844 TURNER SALESMAN  7698 1981-09-08 1500    0 30\n"
    "  insert values 7876 ADAMS  CLERK     7788 1987-05-23 1100 null 20\n"
    "  insert values 7900 JAMES  CLERK     7698 1981-12-03  950 null 30\n"
    "  insert values 7902 FORD   ANALYST   7566 1981-12-03 3000 null 20\n"
    "  insert values 7934 MILLER CLERK     7782 1982-01-23 1300 null 10\n"
    "index SCOTT.PK_EMP on EMP obj 73183 unique\n"
    "\n"
    "# Range partitions by year, in automatic (ASSM) segments.  P2023 follows\n"
    "# the table's OBJ#, as Oracle numbers them.\n"
    "table SCOTT.SALES obj 73190\n"
    "  column SALE_ID   number(8) not null\n"
    "  column SALE_DATE date not null\n"
    "  column REGION    varchar2(10)\n"
    "  column AMOUNT    number(10,2)\n"
    "partition P2023 obj 73191 bound \"TO_DATE(' 2024-01-01 00:00:00', 'SYYYY-MM-DD HH24:MI:SS', "
    "'NLS_CALENDAR=GREGORIAN')\"\n"
    "partition P2024 obj 73192 bound \"TO_DATE(' 2025-01-01 00:00:00', 'SYYYY-MM-DD HH24:MI:SS', "
    "'NLS_CALENDAR=GREGORIAN')\"\n"
    "partition PMAX  obj 73193 bound MAXVALUE\n"
    "segment SCOTT.SALES partition P2023 type 35\n"
    "  extent users01.dbf 144 8\n"
    "  insert values 1 2023-01-15 NORTH 1200.50\n"
    "  insert values 2 2023-04-02 SOUTH  830\n"
    "  insert values 3 2023-09-30 EAST  4410.25\n"
    "segment SCOTT.SALES partition P2024 type 35\n"
    "  extent users01.dbf 152 8\n"
    "  insert values 4 2024-02-29 WEST  99.99\n"
    "  insert values 5 2024-07-04 NORTH 15000\n"
    "segment SCOTT.SALES partition PMAX type 35\n"
    "  extent users01.dbf 160 8\n"
    "  insert values 6 2025-03-01 null  0.01\n"
    "\n"
    "# Rows longer than a block are chained over several blocks; row 3 moved\n"
    "# (migrated) to the next block.  The segment header lists the first\n"
    "# extent only, an extent map block the second.\n"
    "table SCOTT.DOCS obj 73200\n"
    "  column DOC_ID  number(6) not null\n"
    "  column TITLE   varchar2(100)\n"
    "  column BODY    varchar2(4000)\n"
    "  column NOTES   varchar2(4000)\n"
    "  column SUMMARY varchar2(4000)\n"
    "segment SCOTT.DOCS headermap 1\n"
    "  extent users01.dbf 168 8\n"
    "  extent users01.dbf 184 8\n"
    "  insert values 1 \"A short note\" \"It fits in one block.\"\n"
    "  insert values 2 \"A long report\" rep:ABCDEFGHIJ:400 rep:abcdefghij:400 rep:0123456789:300\n"
    "  insert migrated values 3 \"A moved row\" \"Its head stayed, its body moved.\" null \"moved\"\n"
    "  insert cut 2.100 values 4 \"Cut inside BODY\" rep:xyz:100 \"after the cut\"\n"
    "  insert values 5 \"Another long one\" rep:KLMNOPQRST:390 rep:klmnopqrst:390 rep:9876543210:390\n"
    "\n"
    "# Every scalar type the forge writes.\n"
    "table SCOTT.ALL_TYPES obj 73210\n"
    "  column ID          number(4) not null\n"
    "  column C_CHAR      char(10)\n"
    "  column C_VARCHAR2  varchar2(30)\n"
    "  column C_NVARCHAR2 nvarchar2(20)\n"
    "  column C_NUMBER    number(12,4)\n"
    "  column C_INTEGER   number(10)\n"
    "  column C_DECIMAL   number\n"
    "  column C_FLOAT     float\n"
    "  column C_DATE      date\n"
    "  column C_TIMESTAMP timestamp(6)\n"
    "  column C_TSTZ      timestamptz(6)\n"
    "  column C_BFLOAT    binary_float\n"
    "  column C_BDOUBLE   binary_double\n"
    "  column C_RAW       raw(16)\n"
    "segment SCOTT.ALL_TYPES\n"
    "  extent users01.dbf 200 8\n"
    "  insert values 1 ABC \"Hello, world\" \"Gr\\xc3\\xbc\\xc3\\x9f Gott\" 1234.5678 42 -0.001 3.14159 "
    "2024-02-29T13:45:10 \"2024-02-29 13:45:10.123456\" \"2024-02-29 13:45:10.5 +02:00\" 1.5 "
    "2.718281828459045 DEADBEEF00\n"
    "  insert values 2 Z null \"\\xe6\\x97\\xa5\\xe6\\x9c\\xac\" -98765432.1 -7 1e-30 0.5 1999-12-31T23:59:59 "
    "2000-01-01T00:00:00 \"2000-01-01 00:00:00 -05:30\" 0 12345.678 00\n"
    "  insert values 3\n"
    "\n"
    "# A \"$\" in a table name: loader file names carry \"_\" in its place.\n"
    "table SCOTT.EMP$HIST obj 73220\n"
    "  column EMPNO   number(4) not null\n"
    "  column CHANGED date\n"
    "  column OLD_SAL number(7,2)\n"
    "  column NEW_SAL number(7,2)\n"
    "segment SCOTT.EMP$HIST\n"
    "  extent users01.dbf 208 8\n"
    "  insert values 7369 1981-06-01  800  900\n"
    "  insert values 7499 1982-01-01 1600 1700\n"
    "  insert values 7934 1983-03-15 1300 1450\n"
    "\n"
    "dictionary system01.dbf from 8\n"
    "config zor.cfg\n"
    "manifest manifest.txt\n";

}  // namespace

const char *sampleDescription() { return kSample; }

bool forgeSample(const char *outputDir, Manifest *manifest, char *error, size_t errorLength) {
    if (!forgeFromTextWithManifest(kSample, outputDir, manifest, error, errorLength)) return false;
    std::string path = std::string(outputDir) + "/sample.forge";
    FILE *out = fopen(path.c_str(), "wb");
    if (out == nullptr) {
        snprintf(error, errorLength, "cannot create %s: %s", path.c_str(), strerror(errno));
        return false;
    }
    bool ok = fwrite(kSample, 1, sizeof kSample - 1, out) == sizeof kSample - 1;
    ok = fclose(out) == 0 && ok;
    if (!ok) snprintf(error, errorLength, "cannot write %s: %s", path.c_str(), strerror(errno));
    return ok;
}

}  // namespace forge
