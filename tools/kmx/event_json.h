// One KmxEvent as one JSON object, the line format of `kmx listen`.
#pragma once

#include <keymux/keymux.h>

#include <nlohmann/json.hpp>

namespace kmx_tool {

nlohmann::json event_json(const KmxEvent& event);

}  // namespace kmx_tool
