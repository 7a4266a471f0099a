// install.dat fields from their JSON form (the form `settings build` takes and `settings show --json`
// prints).
#pragma once

#include <nlohmann/json.hpp>

#include "startup/instset.h"

namespace vrtool {

using Json = nlohmann::ordered_json;

// Sets every field the object names; unknown names, wrong types and values out of range are a ToolError
// naming the field. The size arrays decide DiskCount unless it is given, and must agree with it.
void SettingsFromJson(const Json& j, vr::TRovaInstallSet& s);

}  // namespace vrtool
