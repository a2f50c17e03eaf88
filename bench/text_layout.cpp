// A memo of 20,000 characters in six formats (faces, sizes, styles, colours,
// one with a background), word-wrapped to widths 300 and 1200: the text
// control's LayoutText, painting every glyph into a bitmap, beside Pango laying
// out and painting the same text with the same attributes through Cairo.
// Printed after the runs: our time over Pango's per width. Aim: at most 1.0.
#include <benchmark/benchmark.h>

#include <pango/pangocairo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "imaging/extras/textedit/text_control.h"
#include "least_time_reporter.h"

namespace {

constexpr int kChars = 20000;
constexpr int kHeight = 12000;

struct TRun {
  const char* face;
  int height;  // pixels (character height)
  uint8_t style;
  TColor color;
  bool back;
};
const TRun kRuns[6] = {{"DejaVu Sans", 14, 0, 0x202020, false}, {"DejaVu Sans", 14, 1, 0x800000, false},
                       {"DejaVu Serif", 16, 2, 0x006000, false}, {"DejaVu Sans Mono", 13, 0, 0x000080, true},
                       {"DejaVu Sans", 18, 4, 0x404040, false},  {"DejaVu Serif", 12, 3, 0x600060, false}};

// Words of varied length; each run of about 60 characters takes the next format.
std::string Text() {
  static const char* words[] = {"memo", "layout", "of", "formatted", "text", "with", "a", "caret", "and",
                                "selection", "justified", "paragraphs", "wrap", "at", "spaces"};
  std::string t;
  size_t w = 0;
  while (t.size() < kChars) {
    t += words[w % 15];
    t += (w % 37 == 36) ? '\n' : ' ';
    w = w * 7 + 3;
    w %= 1000003;
  }
  t.resize(kChars);
  return t;
}

int FormatOf(size_t i) { return static_cast<int>((i / 60) % 6); }

TIEMemoText Memo() {
  TIEMemoText m;
  m.Text = Text();
  for (const TRun& r : kRuns) {
    TIETextFormat f;
    f.SetName(r.face);
    f.FontHeight = -r.height;
    f.FontStyle = r.style;
    f.FontColor = r.color;
    f.BackColor = 0xC0F0FF;
    f.BackStyle = r.back ? bsSolid : bsClear;
    m.CharFormats.push_back(f);
  }
  for (size_t i = 0; i < m.Text.size(); ++i) m.CharFormatIndex.push_back(FormatOf(i));
  return m;
}

void BM_Ours(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(width, kHeight);
  TIETextControl control(nullptr);
  control.BoxBrush()->SetStyle(bsClear);
  control.BorderPen()->SetStyle(psClear);
  control.LendMemo(Memo());
  control.LoadText();
  TIECanvas canvas(bitmap.Canvas(), false, false);
  for (auto _ : state) {
    control.Update();  // measure every character again
    control.LayoutText(&canvas, 0, 0, width, kHeight);
  }
  state.counters["lines_end_y"] = control.CharLineTop(control.TextLength() - 1);
}

void BM_Pango(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const std::string text = Text();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, kHeight);
  cairo_t* cr = cairo_create(surface);
  int endY = 0;
  for (auto _ : state) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    pango_layout_set_width(layout, (width - 2) * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD);
    PangoAttrList* attrs = pango_attr_list_new();
    for (size_t start = 0; start < text.size(); start += 60) {
      const TRun& r = kRuns[FormatOf(start)];
      const auto s = static_cast<guint>(start), e = static_cast<guint>(std::min(text.size(), start + 60));
      auto add = [&](PangoAttribute* a) {
        a->start_index = s;
        a->end_index = e;
        pango_attr_list_insert(attrs, a);
      };
      add(pango_attr_family_new(r.face));
      add(pango_attr_size_new_absolute(r.height * PANGO_SCALE));
      if (r.style & 1) add(pango_attr_weight_new(PANGO_WEIGHT_BOLD));
      if (r.style & 2) add(pango_attr_style_new(PANGO_STYLE_ITALIC));
      if (r.style & 4) add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
      add(pango_attr_foreground_new(static_cast<guint16>((r.color & 0xFF) * 257),
                                    static_cast<guint16>(((r.color >> 8) & 0xFF) * 257),
                                    static_cast<guint16>(((r.color >> 16) & 0xFF) * 257)));
      if (r.back) add(pango_attr_background_new(0xFFFF, 0xF0F0, 0xC0C0));
    }
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
    cairo_move_to(cr, 1, 1);
    pango_cairo_show_layout(cr, layout);
    int w = 0;
    pango_layout_get_pixel_size(layout, &w, &endY);
    g_object_unref(layout);
  }
  state.counters["lines_end_y"] = endY;
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

}  // namespace

int main(int argc, char** argv) {
  for (int width : {300, 1200}) {
    benchmark::RegisterBenchmark(("Ours/" + std::to_string(width)).c_str(), BM_Ours)
        ->Arg(width)->Unit(benchmark::kMillisecond)->Repetitions(3);
    benchmark::RegisterBenchmark(("Pango/" + std::to_string(width)).c_str(), BM_Pango)
        ->Arg(width)->Unit(benchmark::kMillisecond)->Repetitions(3);
  }
  benchmark::Initialize(&argc, argv);
  TLeastTimeReporter reporter(true);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int width : {300, 1200}) {
    const double ours = reporter.Time("Ours/" + std::to_string(width));
    const double pango = reporter.Time("Pango/" + std::to_string(width));
    if (ours > 0 && pango > 0)
      std::printf("width %d: ours %.1f ms, Pango %.1f ms, ours / Pango = %.2f (aim <= 1.0)\n", width, ours * 1e3,
                  pango * 1e3, ours / pango);
  }
  benchmark::Shutdown();
  return 0;
}
