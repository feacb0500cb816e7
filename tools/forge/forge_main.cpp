// forge DESCRIPTION_FILE [OUTPUT_DIR]
// forge sample [OUTPUT_DIR]
//
// Writes the datafiles, configuration files and damage a text description
// asks for (see tools/forge/README.md).  "-" reads the description from
// standard input; the output directory defaults to the current one.
// `sample` writes the sample database: the data dictionary and the SCOTT
// schema, its configuration file zor.cfg and its manifest.
#include "forge/forge.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr, "usage: forge DESCRIPTION_FILE|- [OUTPUT_DIR]\n"
                        "       forge sample [OUTPUT_DIR]\n");
        return 2;
    }
    const char *outputDir = argc == 3 ? argv[2] : ".";
    char error[1024];
    if (strcmp(argv[1], "sample") == 0) {
        if (!forge::forgeSample(outputDir, nullptr, error, sizeof error)) {
            fprintf(stderr, "forge: %s\n", error);
            return 1;
        }
        return 0;
    }
    FILE *in = stdin;
    if (strcmp(argv[1], "-") != 0) {
        in = fopen(argv[1], "rb");
        if (in == nullptr) {
            fprintf(stderr, "forge: cannot open %s\n", argv[1]);
            return 1;
        }
    }
    bool ok = forge::forgeFromStream(in, outputDir, error, sizeof error);
    if (in != stdin) fclose(in);
    if (!ok) {
        fprintf(stderr, "forge: %s\n", error);
        return 1;
    }
    return 0;
}
