#include "platform/rtl/exceptions.h"

std::string RefusalOf(const Exception& error) {
  const auto* refused = dynamic_cast<const TRefusalReason*>(&error);
  return refused && refused->Reason() ? refused->Reason() : error.Message();
}

void Abort() { throw EAbort("Operation aborted"); }

void OutOfMemoryError() { throw EOutOfMemory("Out of memory"); }
