// Base of the media layer's device wrappers (display and sound): each remembers the result
// code of its last device call, 0 for success, so that callers can look at failures that
// do not raise.
#pragma once

#include <cstdint>

#include "gui/Exception.h"

namespace media {

using HResult = int32_t;

constexpr HResult DD_OK = 0;
constexpr HResult DS_OK = 0;

class TDirectX {
public:
    virtual ~TDirectX() = default;
    HResult LastResult() const { return lastResult_; }
    void SetLastResult(HResult result) { lastResult_ = result; }

protected:
    HResult lastResult_ = 0;
};

// The framework's base error, by its plain name (the declaring macro needs an unqualified base).
using gui::Exception;

GUI_DECLARE_EXCEPTION(EDirectXError, Exception);

}  // namespace media
