// The small database the whole-shell target runs its scripts on, and that
// make_corpus slices blocks from: a heap segment over two files with a
// segment header, an extent map block and chained, deleted, locked and raw
// rows; a cluster block; an OLTP-compressed block; a typed segment with an
// ASSM header; a dictionary that names them.  Everything is written by the
// forge from this description.
#pragma once

inline const char *fixtureDescription()
{
    return R"(# heap segment 7001: header at 4:10, extent map block at 4:30
file users01.dbf rfn 4 ts 4 tsname USERS blocks 40
file users02.dbf rfn 5 ts 4 tsname USERS blocks 30

block users01.dbf:10 type 16
  u32 36 3
  u32 92 2
  u32 96 0x0100001e
  u32 100 7001
  u32 108 0x0100000b
  u32 112 2
  u32 116 0x01400014
  u32 120 2

block users01.dbf:30 type 18
  u32 20 1
  u32 24 0
  u32 28 7001
  u32 36 0x01400019
  u32 40 2

block users01.dbf:11
  data objd 7001
  itl xid 0x0006.017.000003e9 uba 0x00c003d6.0149.27 flag ---- lock 1
  itl xid 0x0006.018.000003ea uba 0x00c003d6.0149.28 flag C--- lock 1
  row num 1 str ALPHA num 10
  row num 2 null num 20
  row deleted num 4 str DELTA num 40
  row lock 1 num 5 str OPEN num 50
  row flag --H-F--- next 0x01400014.0 num 7 str CH
  row flag --H----- next 0x0100000c.3

block users01.dbf:12
  data objd 7001
  row num 8 str ETA num 80
  row free
  row raw 0C0003010000_0B0007_02C10C_034D4947_03C2020B

block users02.dbf:20
  data objd 7001
  row flag -----L-- num 70
  row flag --H-F--- next 0x01400015.0 num 12 str LONGCHAIN

block users02.dbf:21
  data objd 7001
  row flag -------- next 0x01400019.0 num 120

block users02.dbf:25
  data objd 7001
  row flag -----L-- num 1200
  row num 13 str LAST num 130

# cluster 8001: key rows in table 0, members in tables 1 and 2
block users01.dbf:5
  data objd 8001 tables 3
  row raw AC0001_00000000000000000000000000000000_02C10B
  row raw AC0001_00000000000000000000000000000000_02C115
  row table 1 key 0 num 1 str A
  row table 1 key 1 num 2 str B
  row table 2 key 1 num 100

# OLTP-compressed block of object 9003
block users01.dbf:6
  data objd 9003 compressed
  lengths 2
  permutation 1 0 2
  symbol str:SYM
  symbol num:42
  crow group:1 str:xy @0 num:5
  crow group:1 str:zz @1 null
  crow deleted group:1 str:dd @0 num:6

# typed segment 9100 with an ASSM header, rows chained and migrated
table T objd 9100
  column ID number
  column NAME varchar2
  column WHEN date
  column AMOUNT binary_double
segment T type 35 headermap 2
  extent users02.dbf 2 6
  extent users02.dbf 10 4
  insert values 1 one "2001-02-03 04:05:06" 1.5
  insert deleted lock 1 values 2 two
  insert migrated values 3 three
  insert cut 1.10 values 4 rep:x:300

config db.cfg
)";
}

// The dictionary files that name the fixture's objects, by file name.
struct FixtureFile {
    const char *name;
    const char *text;
};

inline const FixtureFile *fixtureDictionary(int *count)
{
    static const FixtureFile kFiles[] = {
        {"ZORDICT/ZORUSR.TXT", "0,SYS\n54,SCOTT\n"},
        {"ZORDICT/ZOROBJ.TXT",
         "7001,54,EMP,,2,,\n8000,54,CLU,,3,,\n8001,54,CLUA,,2,,\n8002,54,CLUB,,2,,\n"
         "9003,54,PACKED,,2,,\n9100,54,T,,2,,\n9101,54,T_IX,,1,,\n"},
        {"ZORDICT/ZORTAB.TXT",
         "7001,7001,4,4,10,0\n8001,8001,4,,,1\n8002,8001,4,,,2\n9003,9003,4,,,0\n9100,9100,4,5,4,0\n"},
        {"ZORDICT/ZORCOL.TXT",
         "7001,1,1,ID,2,22,,,0,1,0,0,0\n7001,2,2,NAME,1,20,,,0,2,0,873,1\n"
         "7001,3,3,AMOUNT,2,22,,,0,3,0,0,0\n"
         "8001,1,1,K,2,22,,,0,1,0,0,0\n8001,2,2,A,2,22,,,0,2,0,0,0\n8001,3,3,S,1,10,,,0,3,0,873,1\n"
         "8002,1,1,K,2,22,,,0,1,0,0,0\n8002,2,2,B,2,22,,,0,2,0,0,0\n"
         "9003,1,1,C1,96,2,,,0,1,0,873,1\n9003,2,2,C2,1,10,,,0,2,0,873,1\n9003,3,3,C3,2,22,,,0,3,0,0,0\n"
         "9100,1,1,ID,2,22,,,1,1,0,0,0\n9100,2,2,NAME,1,400,,,0,2,0,873,1\n"
         "9100,3,3,WHEN,12,7,,,0,3,0,0,0\n9100,4,4,AMOUNT,101,8,,,0,4,0,0,0\n"},
        {"ZORDICT/ZORTYP.TXT", ""},
    };
    *count = (int)(sizeof kFiles / sizeof kFiles[0]);
    return kFiles;
}
