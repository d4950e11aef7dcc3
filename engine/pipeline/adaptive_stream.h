#pragma once

#include <gst/gst.h>

#include <memory>

#include "engine/pipeline/source_progress.h"

namespace velmora::engine {

// An adaptive stream (HLS, DASH) reaches playbin's source as a playlist: the
// source ends once the playlist is read, and the demuxer fetches the media
// itself. Its output then stands for the network's supply: the bytes of the
// fragments count as the source's own, and the stream has ended only when
// the demuxer says so. Returns whether the element is such a demuxer.
bool watchAdaptiveDemuxer(GstElement* element, const std::shared_ptr<SourceProgress>& progress);

}  // namespace velmora::engine
