#pragma once
// Plugs the library's extras into the layers below, which cannot call up into
// them: the views' transition engine factory, the filler of the dialog word
// tables, the start-up steps of the preset images and the vector unit, and the
// vector-object file probes and renderer of the input/output layer. Call once before the
// library's start-up (LibraryStaticInit); calling again changes nothing.
void RegisterImagingExtras();
