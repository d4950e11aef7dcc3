#include "engine/pipeline/leading_tag.h"

#include <gst/tag/tag.h>

namespace velmora::engine {

std::uint64_t leadingTagBytes(GstBuffer* firstBuffer) {
    return gst_tag_get_id3v2_tag_size(firstBuffer);
}

}  // namespace velmora::engine
