// The text of unloaded rows is gathered in a fixed buffer and handed to the
// output stream in large pieces: one fwrite per 64 KB instead of one stdio
// call per value and separator, which cost more than decoding the rows.
//
// The sink lives on the stack of the block writer for the time of one block
// (no allocation).  Whoever writes anything else to the stream, or to
// standard output while the stream may be standard output, flushes the sink
// first, so that the bytes keep their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

constexpr uint32_t kTextSinkSize = 65536;

struct TextSink {
    FILE *stream;   // nothing is written when null
    uint32_t length;
    char data[kTextSinkSize];
};

inline void initTextSink(TextSink *sink, FILE *stream)
{
    sink->stream = stream;
    sink->length = 0;
}

inline void flushTextSink(TextSink *sink)
{
    if (sink->length > 0 && sink->stream != nullptr)
        fwrite(sink->data, 1, sink->length, sink->stream);
    sink->length = 0;
}

// Where to write up to `room` bytes (at most kTextSinkSize); the writer then
// calls commitText with the end of what it wrote.
inline char *reserveText(TextSink *sink, uint32_t room)
{
    if (sink->length + room > kTextSinkSize)
        flushTextSink(sink);
    return sink->data + sink->length;
}

inline void commitText(TextSink *sink, const char *end)
{
    sink->length = static_cast<uint32_t>(end - sink->data);
}

inline void appendByte(TextSink *sink, char c)
{
    if (sink->length == kTextSinkSize)
        flushTextSink(sink);
    sink->data[sink->length++] = c;
}

inline void appendText(TextSink *sink, const void *data, size_t length)
{
    if (length == 0)
        return;
    if (sink->length + length > kTextSinkSize) {
        flushTextSink(sink);
        // A value larger than half the sink goes straight to the stream.
        if (length > kTextSinkSize / 2) {
            if (sink->stream != nullptr)
                fwrite(data, 1, length, sink->stream);
            return;
        }
    }
    memcpy(sink->data + sink->length, data, length);
    sink->length += static_cast<uint32_t>(length);
}
