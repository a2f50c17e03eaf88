#pragma once
// Plugs the library's extras into the layers below, which cannot call up into
// them: the views' transition engine factory, the filler of the dialog word
// tables and the start-up step of the preset images. Call once before the
// library's start-up (LibraryStaticInit); calling again changes nothing.
void RegisterImagingExtras();
