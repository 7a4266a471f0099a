// The widget set of real windows (Windows builds only).
#pragma once

#include <memory>

#include "framework/widgetset.h"

namespace vr {

// Creates the widget set: forms become top-level windows, controls the system's child windows, texts
// are converted from code page 932 to UTF-16 on the way. Install it with Application->SetWidgetSet
// before the first form is created.
std::unique_ptr<TWidgetSet> CreateWin32WidgetSet();

}  // namespace vr
