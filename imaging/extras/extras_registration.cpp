#include "imaging/extras/extras_registration.h"

#include "imaging/core/ie_startup.h"
#include "imaging/core/ie_word_table.h"
#include "imaging/extras/presets/preset_images.h"
#include "imaging/extras/textedit/text_control.h"
#include "imaging/extras/transitions/transition_engine.h"
#include "imaging/extras/vector/image_lib_vect.h"
#include "imaging/extras/words/word_tables.h"
#include "imaging/views/transition_link.h"

void RegisterImagingExtras() {
  SetTransitionEngineFactory([](TIEView* view) -> std::unique_ptr<TIETransitionEngine> {
    return std::make_unique<TIETransitionEffects>(view);
  });
  SetWordTableFiller(FillAllWordTables);
  SetLibraryStartupStep(iessTextMemoFormat, RegisterTextMemoClipboardFormat, nullptr);
  SetLibraryStartupStep(iessPresetImages, InitPresetImages, DonePresetImages);
  SetLibraryStartupStep(iessVectUnit, InitVectUnit, DoneVectUnit);
  RegisterVectorObjectFormats();
}
