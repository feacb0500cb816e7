// forge DESCRIPTION_FILE [OUTPUT_DIR]
// forge sample [OUTPUT_DIR]
// forge sample --asm OUTPUT_DIR [--au MB] [--disks N] [--big] [--direct N] [--per-block N]
// forge asm OUTPUT_DIR [the same options] FILE...
//
// Writes the datafiles, configuration files and damage a text description
// asks for (see tools/forge/README.md).  "-" reads the description from
// standard input; the output directory defaults to the current one.
// `sample` writes the sample database: the data dictionary and the SCOTT
// schema, its configuration file zor.cfg and its manifest.
#include "forge/asm_image.h"
#include "forge/forge.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Options of the disk-group commands from argv[first] on; other words are
// files to place.  False on an unknown option.
static bool parseAsmOptions(int argc, char **argv, int first, forge::AsmGroupSpec *groupSpec,
                            std::vector<forge::AsmFileInput> *files) {
    for (int i = first; i < argc; i++) {
        bool hasValue = i + 1 < argc;
        unsigned long value = hasValue ? strtoul(argv[i + 1], nullptr, 0) : 0;
        if (strcmp(argv[i], "--big") == 0) {
            groupSpec->bigEndian = true;
        } else if (strcmp(argv[i], "--au") == 0 && hasValue) {
            groupSpec->auSize = static_cast<uint32_t>(value) * 1048576u;
            i++;
        } else if (strcmp(argv[i], "--disks") == 0 && hasValue) {
            groupSpec->diskCount = static_cast<uint32_t>(value);
            i++;
        } else if (strcmp(argv[i], "--direct") == 0 && hasValue) {
            groupSpec->directSlots = static_cast<uint32_t>(value);
            i++;
        } else if (strcmp(argv[i], "--per-block") == 0 && hasValue) {
            groupSpec->indirectSlotsPerBlock = static_cast<uint32_t>(value);
            i++;
        } else if (argv[i][0] != '-' && files != nullptr) {
            const char *slash = strrchr(argv[i], '/');
            files->push_back({argv[i], slash != nullptr ? slash + 1 : argv[i]});
        } else {
            fprintf(stderr, "forge: unknown option %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

// forge sample --asm DIR [options]: the sample database and its datafiles
// inside a disk group.
static int forgeSampleInAsm(int argc, char **argv) {
    forge::AsmGroupSpec groupSpec;
    if (!parseAsmOptions(argc, argv, 4, &groupSpec, nullptr)) return 2;
    char error[1024];
    forge::AsmGroupRecord record;
    if (!forge::forgeSampleAsm(argv[3], groupSpec, &record, nullptr, error, sizeof error)) {
        fprintf(stderr, "forge: %s\n", error);
        return 1;
    }
    return 0;
}

// forge asm DIR [options] FILE...: the files inside a disk group in DIR,
// numbered from 256 in the order given, with DIR/asm.cfg naming them.
static int forgeFilesInAsm(int argc, char **argv) {
    forge::AsmGroupSpec groupSpec;
    std::vector<forge::AsmFileInput> files;
    if (!parseAsmOptions(argc, argv, 3, &groupSpec, &files) || files.empty()) return 2;
    char error[1024];
    forge::AsmGroupRecord record;
    if (!forge::writeAsmGroup(groupSpec, files, argv[2], &record, error, sizeof error)) {
        fprintf(stderr, "forge: %s\n", error);
        return 1;
    }
    std::string config;
    for (const forge::AsmPlacedFile &f : record.files) config += "+" + std::to_string(f.fileNumber) + "\n";
    std::string path = std::string(argv[2]) + "/asm.cfg";
    FILE *out = fopen(path.c_str(), "wb");
    if (out == nullptr || fwrite(config.data(), 1, config.size(), out) != config.size()) {
        fprintf(stderr, "forge: cannot write %s\n", path.c_str());
        if (out != nullptr) fclose(out);
        return 1;
    }
    return fclose(out) == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc >= 4 && strcmp(argv[1], "sample") == 0 && strcmp(argv[2], "--asm") == 0)
        return forgeSampleInAsm(argc, argv);
    if (argc >= 4 && strcmp(argv[1], "asm") == 0)
        return forgeFilesInAsm(argc, argv);
    if (argc < 2 || argc > 3 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr, "usage: forge DESCRIPTION_FILE|- [OUTPUT_DIR]\n"
                        "       forge sample [OUTPUT_DIR]\n"
                        "       forge sample --asm OUTPUT_DIR [--au MB] [--disks N] [--big] [--direct N] [--per-block N]\n"
                        "       forge asm OUTPUT_DIR [--au MB] [--disks N] [--big] [--direct N] [--per-block N] FILE...\n");
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
