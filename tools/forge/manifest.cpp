// The manifest: every row the forge stored for a table, as bytes and as the
// text ZOR should print, so that tests can compare an unload with it.
#include "forge/forge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace forge {

std::string manifestRecord(const ManifestRow *row, const char *fieldTag, const char *recordTag) {
    // Trailing NULL columns are not stored, so ZOR writes no field for them.
    size_t stored = row->values.size();
    while (stored > 0 && row->values[stored - 1].isNull) stored--;
    std::string record;
    for (size_t i = 0; i < stored; i++) {
        if (i > 0) record += fieldTag;
        record += row->values[i].text;
    }
    record += recordTag;
    return record;
}

static void appendEscaped(std::string *out, const std::string &text) {
    static const char hex[] = "0123456789abcdef";
    for (unsigned char c : text) {
        if (c == '\\') {
            *out += "\\\\";
        } else if (c == '\t') {
            *out += "\\t";
        } else if (c == '\n') {
            *out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            *out += "\\x";
            out->push_back(hex[c >> 4]);
            out->push_back(hex[c & 15]);
        } else {
            out->push_back((char)c);
        }
    }
}

std::string formatManifest(const Manifest *manifest) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    char line[256];
    for (const ManifestTable &t : manifest->tables) {
        snprintf(line, sizeof line, "table %s objd %u cluster %u columns %zu rows %zu\n", t.name.c_str(),
                 t.objectId, t.clusterTable, t.columns.size(), t.rows.size());
        out += line;
        if (!t.owner.empty() || !t.partition.empty() || t.drop != kSchemaLive || t.truncated) {
            out.pop_back();
            if (!t.owner.empty()) out += " owner " + t.owner;
            if (!t.partition.empty()) out += " partition " + t.partition;
            if (t.drop != kSchemaLive)
                out += t.drop == kSchemaRecycleBin ? " dropped recyclebin" : " dropped purge";
            if (t.truncated)
                out += " truncated old";
            out += "\n";
        }
        for (const ColumnDef &c : t.columns) {
            snprintf(line, sizeof line, "column %s %s", c.name.c_str(), columnTypeName(c.type));
            out += line;
            if (c.type == kColumnChar) out += " " + std::to_string(c.length);
            out += "\n";
        }
        for (const ManifestRow &r : t.rows) {
            // The address ZOR prints with ROW_ADDRESS: the RDBA as a signed
            // decimal, the table in the block and the slot.
            snprintf(line, sizeof line, "row %d.%u.%u", (int32_t)r.rdba, r.table, r.slot);
            out += line;
            if (r.deleted) out += " deleted";
            if (r.lock != 0) out += " lock " + std::to_string(r.lock);
            out += "\nbytes ";
            for (size_t i = 0; i < r.values.size(); i++) {
                if (i > 0) out += "|";
                if (r.values[i].isNull) {
                    out += "null";
                    continue;
                }
                for (uint8_t b : r.values[i].bytes) {
                    out.push_back(hex[b >> 4]);
                    out.push_back(hex[b & 15]);
                }
            }
            out += "\ntext ";
            for (size_t i = 0; i < r.values.size(); i++) {
                if (i > 0) out += "\t";
                appendEscaped(&out, r.values[i].text);
            }
            out += "\n";
        }
    }
    return out;
}

bool writeManifestFile(const char *path, const Manifest *manifest, char *error, size_t errorLength) {
    std::string text = formatManifest(manifest);
    FILE *out = fopen(path, "wb");
    if (out == nullptr) {
        if (error != nullptr && errorLength > 0)
            snprintf(error, errorLength, "cannot create %s: %s", path, strerror(errno));
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = fclose(out) == 0 && ok;
    if (!ok && error != nullptr && errorLength > 0)
        snprintf(error, errorLength, "cannot write %s: %s", path, strerror(errno));
    return ok;
}

}  // namespace forge
