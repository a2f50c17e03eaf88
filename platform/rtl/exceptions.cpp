#include "platform/rtl/exceptions.h"

void Abort() { throw EAbort("Operation aborted"); }

void OutOfMemoryError() { throw EOutOfMemory("Out of memory"); }
