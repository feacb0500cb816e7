// LOB subsystem: the LOB block map, LOB locators and the LOB index, and LOB
// value output.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kLobMapBuckets = 100;
constexpr uint32_t kLobPageTableSize = 524288;   // page numbers 0 .. 0x7FFFF

// Where one page of a LOB lives; file 0xFFFF / block 0xFFFFFFFF when unknown.
struct LobPageLocation {
    uint16_t file;
    uint32_t block;
    uint32_t version;
};

// The LOB map state, one per process.
struct LobPageMap {
    FILE *wholeMap;                    // ZORDICT/ZORLOB.TXT while an UNLOAD runs
    FILE *buckets[kLobMapBuckets];     // ZORDICT/ZORLOBMAP00.TXT .. 99
    uint32_t pageCount;
    LobPageLocation pages[kLobPageTableSize];
};

// No open map file, every bucket empty.
void clearLobPageMap(LobPageMap *map);
