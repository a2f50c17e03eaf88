#pragma once
// A form with one of every control, laid out as a person would: the rendering
// test saves it and compares it with the committed picture.
#include "platform/ui/forms.h"

// Made owned by the application and shown.
TForm* MakeSampleForm();
