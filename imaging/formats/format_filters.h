#pragma once
// The one registration call of the format filters: it fills the input/output
// framework's filter slots with the readers, writers and stream tests of this
// folder and puts the framework's start-up into the library's. A program calls
// it once, before LibraryStaticInit.
void RegisterFormatFilters();
