#pragma once
// Progress of the library's long operations.
#include <functional>

#include "platform/rtl/object.h"

// Called with the sender that asked for the work (or nil) and a percentage
// 0..100, computed by truncation after each row or step; an empty function
// means nobody listens. The kernel resampler's horizontal pass reports from
// its first worker thread, not from the caller's: a handler must not touch
// forms or other state of the user-interface thread without synchronising.
using TIEProgressEvent = std::function<void(TObject* sender, int percent)>;
