#pragma once

#include <functional>

namespace velmora::engine {

// Loads the plugins a stream needs after its connection is open, one plugin a
// call, returning whether more remain: a worker runs it between state
// requests, so that the loading is off the way to the first sound and a
// request never waits for the whole list.
std::function<bool()> pluginPreloader();

}  // namespace velmora::engine
