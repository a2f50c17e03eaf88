#pragma once
// Why the last TBitmap::LoadFromStream of this thread refused its stream: the
// rule's name (DibRefusalName), or null after a load that succeeded. Callers
// catch the framework's EInvalidGraphic; tests read the rule here.
const char* LastBitmapRefusal();
