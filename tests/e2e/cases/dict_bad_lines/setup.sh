# Damage ZORCOL.TXT beyond what a text file in the case folder can hold:
# a line of 70 KB, a stray NUL byte, a cut line, and a quoted name that
# holds a line feed (one record over two lines).
{
  printf '73183,4,4,'
  head -c 71680 /dev/zero | tr '\0' 'L'
  printf ',1,10,,,0,4,0,873,1\n'
  printf '73183,5,5,HIRE\0DATE,12,7,,,0,5,0,0,0\n'
  printf '73183,6,6,SAL,2,22\n'
  printf '73183,7,7,COMM\n'
  printf '73183,8,8,"Two\nLines",1,10,,,0,8,0,873,1\n'
  printf '73190,2,2,DNAME,1,14,,,0,2,0,873,1\n'
} >>ZORDICT/ZORCOL.TXT
