// The text of unloaded rows is gathered in a fixed buffer and handed to the
// output stream in large pieces: one fwrite per 16 KB instead of one stdio
// call per value and separator, which cost more than decoding the rows.
//
// The sink lives on the stack of the block writer for the time of one block
// (no allocation).  Whoever writes anything else to the stream, or to
// standard output while the stream may be standard output, flushes the sink
// first, so that the bytes keep their order.
//
// An unload file's writer lends the sink room in its own buffers: the text
// is then written once, where it is written from, instead of being copied
// from the sink to stdio and from stdio to the writer's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Small enough to stay in the first-level cache while rows are written.
constexpr uint32_t kTextSinkSize = 16384;

// A stream that lends the sink room in its own buffer: the text is then
// written where the stream would have copied it to, and never copied.  The
// background writer of an unload file is one (unload/parallel/).
struct TextSinkLender {
    // kTextSinkSize bytes that follow everything written to the stream so
    // far (stdio's buffer flushed first), or null when the stream has no
    // such room now.
    char *(*lend)(void *owner);
    // `length` bytes of the room lent are written: they are the stream's
    // next bytes.
    void (*takeBack)(void *owner, uint32_t length);
    void *owner;
};

struct TextSink {
    FILE *stream;   // nothing is written when null
    uint32_t length;
    // Where the text goes: `own`, or room lent by the lender.  While the
    // sink holds lent room nothing else may be written to the stream, and
    // a flush gives the room back: whoever writes to the stream flushes the
    // sink first, as always.
    char *data;
    const TextSinkLender *lender;  // null: the text goes through fwrite
    bool lent;
    char own[kTextSinkSize];
};

inline void initTextSink(TextSink *sink, FILE *stream)
{
    sink->stream = stream;
    sink->length = 0;
    sink->data = sink->own;
    sink->lender = nullptr;
    sink->lent = false;
}

inline void flushTextSink(TextSink *sink)
{
    if (sink->lent) {
        sink->lender->takeBack(sink->lender->owner, sink->length);
        sink->data = sink->own;
        sink->lent = false;
    } else if (sink->length > 0 && sink->stream != nullptr) {
        fwrite(sink->data, 1, sink->length, sink->stream);
    }
    sink->length = 0;
}

// The sink's text goes to the stream, and the sink takes room from the
// lender, when there is one, for what its writer writes next.  Only the
// sink's own writer calls this, where nothing else is written to the
// stream before the sink's next flush.
inline void refillTextSink(TextSink *sink)
{
    flushTextSink(sink);
    if (sink->lender == nullptr)
        return;
    char *room = sink->lender->lend(sink->lender->owner);
    if (room != nullptr) {
        sink->data = room;
        sink->lent = true;
    }
}

// Where to write up to `room` bytes (at most kTextSinkSize); the writer then
// calls commitText with the end of what it wrote.
inline char *reserveText(TextSink *sink, uint32_t room)
{
    if (sink->length + room > kTextSinkSize)
        refillTextSink(sink);
    return sink->data + sink->length;
}

inline void commitText(TextSink *sink, const char *end)
{
    sink->length = static_cast<uint32_t>(end - sink->data);
}

inline void appendByte(TextSink *sink, char c)
{
    if (sink->length == kTextSinkSize)
        refillTextSink(sink);
    sink->data[sink->length++] = c;
}

inline void appendText(TextSink *sink, const void *data, size_t length)
{
    if (length == 0)
        return;
    if (sink->length + length > kTextSinkSize) {
        // A value larger than half the sink goes straight to the stream.
        if (length > kTextSinkSize / 2) {
            flushTextSink(sink);
            if (sink->stream != nullptr)
                fwrite(data, 1, length, sink->stream);
            return;
        }
        refillTextSink(sink);
    }
    memcpy(sink->data + sink->length, data, length);
    sink->length += static_cast<uint32_t>(length);
}
