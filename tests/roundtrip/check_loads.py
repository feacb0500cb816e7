#!/usr/bin/env python3
"""Unloads every SCOTT table of the forge's sample database with ZOR and
reads the result back, comparing each row with the forge's manifest.

  check_loads.py csv ZOR FORGE       OUTPUT_STYLE CSV, read back with Python's
                                   csv module, field by field against the
                                   manifest's text of every value.
  check_loads.py postgres ZOR FORGE  TARGET POSTGRESQL, each <table>_pg.sql run
                                   by psql (PGHOST names the server), every
                                   row SELECTed back and compared with the
                                   value the manifest's bytes hold.

The sample database is written by `FORGE sample` into a temporary
directory, and beside it a database of names as Oracle 12.2 and later allow
them (128 bytes, multibyte, a quoted name with a comma, a blank and lower
case; PostgreSQL keeps 63 bytes of a name, so the script renames the longer
ones).  The stored values are decoded here from the manifest's bytes,
independently of ZOR's code.
"""
import csv
csv.field_size_limit(1 << 30)
import decimal
import io
import math
import os
import re
import struct
import subprocess
import sys
import tempfile

decimal.getcontext().prec = 400


def unescape(text):
    """The manifest's text escapes: \\t, \\n, \\\\ and \\xHH."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == 0x5C and i + 1 < len(text):
            n = text[i + 1]
            if n == ord('t'):
                out.append(9); i += 2; continue
            if n == ord('n'):
                out.append(10); i += 2; continue
            if n == 0x5C:
                out.append(0x5C); i += 2; continue
            if n == ord('x'):
                out.append(int(text[i + 2:i + 4], 16)); i += 4; continue
        out.append(c)
        i += 1
    return bytes(out)


# The forge's type names; a column line is "column NAME TYPE", and a name may
# hold blanks.
KINDS = ['NUMBER', 'VARCHAR2', 'CHAR', 'DATE', 'TIMESTAMP', 'TIMESTAMP WITH TIME ZONE', 'BINARY_FLOAT',
         'BINARY_DOUBLE', 'RAW', 'NVARCHAR2', 'LONG', 'CLOB', 'NCLOB', 'BLOB']


def column_name_and_kind(rest):
    kind = max((k for k in KINDS if re.search(r' %s( \d+)?$' % re.escape(k), rest)), key=len)
    name = re.sub(r' %s( \d+)?$' % re.escape(kind), '', rest)
    return name, kind


def read_manifest(path, owners=('SCOTT',)):
    """Tables of the owners: name, partition, column types, rows (bytes, texts)."""
    tables = []
    table = None
    deleted = False
    with open(path, 'rb') as f:
        for line in f.read().split(b'\n'):
            if line.startswith(b'table '):
                words = line.decode('utf-8', 'surrogateescape').split()
                attrs = dict(zip(words[::2], words[1::2]))
                table = {'name': words[1], 'owner': attrs.get('owner', ''),
                         'partition': attrs.get('partition', ''), 'columns': [], 'rows': [],
                         'gone': 'dropped' in attrs or 'truncated' in attrs}
                tables.append(table)
            elif line.startswith(b'column ') and table is not None:
                table['columns'].append(column_name_and_kind(line[7:].decode('utf-8', 'surrogateescape')))
            elif line.startswith(b'row ') and table is not None:
                # A deleted row is stored but not unloaded (DELETED_ROW is off).
                deleted = line.endswith(b' deleted')
            elif line.startswith(b'bytes ') and table is not None and deleted:
                continue
            elif line.startswith(b'bytes ') and table is not None:
                values = [None if v == 'null' else bytes.fromhex(v) for v in line[6:].decode().split('|')]
                table['rows'].append({'bytes': values})
            elif line.startswith(b'text ') and table is not None and deleted:
                continue
            elif line.startswith(b'text ') and table is not None:
                table['rows'][-1]['text'] = [unescape(t) for t in line[5:].split(b'\t')]
    # Dropped tables and the old rows of truncated ones are not reached
    # through the live dictionary.
    return [t for t in tables if t['owner'] in owners and not t['gone']]


def data_name(table):
    name = table['name'] + ('_' + table['partition'] if table['partition'] else '')
    return name.replace('$', '_')


def run_zor(zor, directory, commands):
    script = 'OPEN zor.cfg;\nUNLOAD TABLE DICT$;\n' + commands + 'EXIT;\n'
    done = subprocess.run([zor], input=script.encode('utf-8', 'surrogateescape'), cwd=directory,
                          capture_output=True)
    return done.stderr.decode('utf-8', 'replace')


def unload_commands(tables, as_names):
    lines = []
    for t in tables:
        line = 'UNLOAD TABLE ' + t['owner'] + '.' + t['name']
        if t['partition']:
            line += ' PARTITION ' + t['partition']
        if as_names and t['partition']:
            line += ' AS ' + data_name(t)
        lines.append(line + ' TO ' + data_name(t) + '.csv;\n')
    return ''.join(lines)


# --------------------------------------------------------------------------
# CSV read back with the csv module.

def check_csv(zor, directory, owners):
    tables = read_manifest(os.path.join(directory, 'manifest.txt'), owners)
    run_zor(zor, directory, 'SET OUTPUT_STYLE CSV;\n' + unload_commands(tables, False))
    failures = 0
    for t in tables:
        path = os.path.join(directory, data_name(t) + '.csv')
        with open(path, 'r', encoding='latin-1', newline='') as f:
            records = list(csv.reader(f, delimiter='|'))
        expected = []
        for row in t['rows']:
            texts = [x.decode('latin-1') for x in row['text']]
            expected.append(texts + [''] * (len(t['columns']) - len(texts)))
        if sorted(records) != sorted(expected):
            failures += 1
            print('CSV of %s differs:\n  read     %r\n  expected %r' % (data_name(t), records, expected))
    if 'SCOTT' in owners:
        control = open(os.path.join(directory, 'EXTREMES_sqlldr.ctl')).read()
        if "OPTIONALLY ENCLOSED BY '\"'" not in control:
            failures += 1
            print('the control file does not say OPTIONALLY ENCLOSED BY')
    print('csv: %d tables, %d rows read back' % (len(tables), sum(len(t['rows']) for t in tables)))
    return failures


# --------------------------------------------------------------------------
# PostgreSQL: the stored values, decoded from the manifest's bytes.

def oracle_number(b):
    if b[0] == 0x80 and len(b) == 1:
        return decimal.Decimal(0)
    negative = b[0] < 0x80
    if negative:
        digits = b[1:-1] if b[-1] == 102 else b[1:]
        exponent = 0x3E - b[0]
        pairs = [101 - x for x in digits]
    else:
        exponent = b[0] - 0xC1
        pairs = [x - 1 for x in b[1:]]
    value = sum(decimal.Decimal(p) * decimal.Decimal(100) ** (exponent - i) for i, p in enumerate(pairs))
    return -value if negative else value


def oracle_datetime(b):
    """(year, month, day, hour, minute, second, microsecond); BC years negative."""
    year = (b[0] - 100) * 100 + (b[1] - 100)
    micro = 0
    if len(b) >= 11:
        micro = int.from_bytes(b[7:11], 'big') // 1000   # PostgreSQL keeps microseconds: cut
    return (year, b[2], b[3], b[4] - 1, b[5] - 1, b[6] - 1, micro)


def postgres_datetime(text):
    m = re.fullmatch(r'(\d+)-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)(?:\.(\d+))?(?:[+-]\d\d(?::\d\d)?)?( BC)?', text)
    if m is None:
        return None
    year = int(m.group(1)) * (-1 if m.group(8) else 1)
    micro = int((m.group(7) or '0').ljust(6, '0'))
    return (year, int(m.group(2)), int(m.group(3)), int(m.group(4)), int(m.group(5)), int(m.group(6)), micro)


def oracle_float(b):
    bits = int.from_bytes(b, 'big')
    top = 1 << (8 * len(b) - 1)
    bits = bits ^ top if bits & top else ~bits & ((1 << 8 * len(b)) - 1)
    return struct.unpack('>f' if len(b) == 4 else '>d', bits.to_bytes(len(b), 'big'))[0]


def postgres_float(text, single):
    value = {'Infinity': math.inf, '-Infinity': -math.inf, 'NaN': math.nan}.get(text)
    if value is None:
        value = float(text)
    return struct.unpack('>f', struct.pack('>f', value))[0] if single else value


def lob_content(kind, stored, shown):
    """A LOB's stored bytes are its locator; the manifest's text is its content."""
    if kind in ('CLOB', 'NCLOB', 'BLOB') and stored is not None:
        return shown
    return stored


def same_value(kind, stored, text):
    if stored is None:
        return text is None
    if text is None:
        return False
    if kind == 'NUMBER':
        return decimal.Decimal(text) == oracle_number(stored)
    if kind == 'CHAR':
        return text.rstrip(' ') == stored.decode('utf-8').rstrip(' ')
    if kind in ('VARCHAR2', 'LONG'):
        return text == stored.decode('utf-8')
    if kind == 'NVARCHAR2':
        return text == stored.decode('utf-16-be')
    if kind in ('DATE', 'TIMESTAMP', 'TIMESTAMP WITH TIME ZONE'):
        return postgres_datetime(text) == oracle_datetime(stored)
    if kind in ('BINARY_FLOAT', 'BINARY_DOUBLE'):
        a, b = postgres_float(text, kind == 'BINARY_FLOAT'), oracle_float(stored)
        return (math.isnan(a) and math.isnan(b)) or a == b
    if kind in ('RAW', 'BLOB'):
        return text.lower() == '\\x' + stored.hex()
    if kind in ('CLOB', 'NCLOB'):
        return text == stored.decode('utf-16-be')
    raise ValueError('no comparison for ' + kind)


def psql(directory, arguments):
    # \copy reads its file relative to psql's working directory.
    return subprocess.run(['psql', '-X', '-q', '-v', 'ON_ERROR_STOP=1', '-d', 'postgres'] + arguments,
                          cwd=directory, capture_output=True)


def created_table(directory, script):
    """The table name the script's CREATE TABLE gives (a long name is renamed)."""
    with open(os.path.join(directory, script), 'rb') as f:
        found = re.search(rb'^CREATE TABLE "((?:[^"]|"")*)"', f.read(), re.M)
    return found.group(1).decode('utf-8', 'surrogateescape').replace('""', '"') if found else ''


def check_postgres(zor, directory, owners):
    tables = read_manifest(os.path.join(directory, 'manifest.txt'), owners)
    errors = run_zor(zor, directory, 'SET TARGET POSTGRESQL;\n' + unload_commands(tables, True))
    failures = 0
    if errors:
        print('zor reported on standard error:\n' + errors)
        failures += 1
    for t in tables:
        name = data_name(t)
        # Partitions are loaded AS tables of their own; the script's name
        # carries the partition as the control file's does.
        script = name + ('_' + t['partition'] if t['partition'] else '') + '_pg.sql'
        done = psql(directory, ['-f', script])
        if done.returncode != 0:
            failures += 1
            print('psql -f %s failed:\n%s%s' % (script, done.stdout.decode(), done.stderr.decode()))
            continue
        loaded_as = created_table(directory, script)   # names keep their "$"
        query = ('SET TimeZone = UTC; SET DateStyle = ISO; '
                 'COPY (SELECT * FROM "%s") TO STDOUT WITH (FORMAT csv, NULL \'\\N\')' %
                 loaded_as.replace('"', '""'))
        done = psql(directory, ['-c', query.encode('utf-8', 'surrogateescape')])
        if done.returncode != 0:
            failures += 1
            print('SELECT from %s failed: %s' % (name, done.stderr.decode()))
            continue
        loaded = [[None if v == '\\N' else v for v in r]
                  for r in csv.reader(io.StringIO(done.stdout.decode('utf-8'), newline=''))]
        kinds = [kind for _, kind in t['columns']]
        unmatched = list(loaded)
        for row in t['rows']:
            match = next((r for r in unmatched if len(r) == len(kinds) and
                          all(same_value(k, lob_content(k, s, c), v)
                              for k, s, c, v in zip(kinds, row['bytes'], row['text'], r))), None)
            if match is None:
                failures += 1
                print('%s: no loaded row holds %r\n  loaded: %r' % (name, row['bytes'], loaded))
            else:
                unmatched.remove(match)
        if unmatched:
            failures += 1
            print('%s: rows loaded that were never stored: %r' % (name, unmatched))
    print('postgres: %d tables, %d rows compared' % (len(tables), sum(len(t['rows']) for t in tables)))
    return failures


# Names as Oracle 12.2 and later allow them: 128 bytes (ASCII and
# multibyte), and quoted names holding a comma, a blank and lower case.
LONG_OWNER = 'OWNER_OF_SEVENTY_EIGHT_BYTES_' + 'X' * 49
WIDE_OWNER = '\u540d' * 42 + 'OW'
LONG_NAMES = """file system01.dbf rfn 1 ts 0 tsname SYSTEM blocks 256
file users01.dbf rfn 4 ts 4 tsname USERS blocks 128
user {o} id 90 tablespace 4
user {w} id 91 tablespace 4
table {o}.{t} obj 80000
  column {c} number
  column "Unit Price, EUR" number(7,2)
  column {m} varchar2(20)
  column "lower case" varchar2(10)
segment {o}.{t}
  extent users01.dbf 8 8
  insert values 1 12.5 abc x
  insert values 2 null "d,e" y
table {w}.{wt} obj 80010
  column ID number
  column {m} varchar2(30)
  column {c2} date
  column {c} number
segment {w}.{wt}
  extent users01.dbf 24 8
  insert values 7 "\u540d\u5b57" "2024-02-29 12:00:00" 5
dictionary system01.dbf from 8
config zor.cfg
manifest manifest.txt
""".format(o=LONG_OWNER, w=WIDE_OWNER, t='TABLE_OF_ONE_HUNDRED_TWENTY_EIGHT_BYTES_' + 'Y' * 88,
           c='COLUMN_OF_128_BYTES_' + 'Z' * 108, m='\u4ef7' * 42 + 'XY', wt='\u8868' * 42 + 'TB',
           c2='COLUMN_OF_128_BYTES_' + 'Z' * 107 + 'W')


def main():
    mode, zor, forge = sys.argv[1:4]
    check = check_csv if mode == 'csv' else check_postgres
    failures = 0
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([forge, 'sample', directory], check=True, capture_output=True)
        failures += check(zor, directory, ('SCOTT',))
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([forge, '-', directory], input=LONG_NAMES.encode(), check=True, capture_output=True)
        failures += check(zor, directory, (LONG_OWNER, WIDE_OWNER))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
