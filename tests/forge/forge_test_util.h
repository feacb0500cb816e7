// Small helpers shared by the forge tests: scratch directories and whole-file reads.
#ifndef ZOR_TESTS_FORGE_FORGE_TEST_UTIL_H
#define ZOR_TESTS_FORGE_FORGE_TEST_UTIL_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace forgetest {

// A fresh directory under TMPDIR (or /tmp); the tests leave it behind on
// failure so the files can be looked at.
inline std::string makeScratchDir() {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/forge-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return std::string();
    return std::string(name.data());
}

inline void removeScratchDir(const std::string &dir) {
    if (dir.empty() || dir.find("forge-test-") == std::string::npos) return;
    std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
}

inline std::vector<uint8_t> readWholeFile(const std::string &path) {
    std::vector<uint8_t> bytes;
    FILE *in = fopen(path.c_str(), "rb");
    if (in == nullptr) return bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(in);
    return bytes;
}

inline std::string readText(const std::string &path) {
    std::vector<uint8_t> bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

inline uint32_t le32(const uint8_t *p) {
    return p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
inline uint32_t be32(const uint8_t *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
inline uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
inline uint16_t be16(const uint8_t *p) { return (uint16_t)((p[0] << 8) | p[1]); }

}  // namespace forgetest

#endif
