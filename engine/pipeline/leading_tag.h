#pragma once

#include <gst/gst.h>

#include <cstdint>

namespace velmora::engine {

// The size of the ID3v2 tag the media starts with, footer included, from the
// media's first buffer; 0 when there is none, or when the buffer is too short
// to hold a tag's header. A tag's bytes are no sound: they do not count
// towards what must arrive before playing starts.
std::uint64_t leadingTagBytes(GstBuffer* firstBuffer);

}  // namespace velmora::engine
