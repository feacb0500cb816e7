#include <cstdio>
#include <sys/stat.h>

#include "shell/shell.h"

int main() {
    // Both directories usually exist from an earlier run; that is fine.
    mkdir("ZORDICT", 0777);
    mkdir("LOBDATA", 0777);
    return runZOR(stdin);
}
