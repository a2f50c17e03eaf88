// The layout against a second one written in Python from the same rules, over
// advances and metrics that Pillow and the font's own tables give for the same
// font file: the same line breaks, character lefts, line tops and caret.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "imaging/extras/textedit/text_control.h"
#include "test_support.h"

namespace {

struct LayoutCase {
  int width, height;
  double left, top, right, bottom;
  int align;
  double zoom;
  int fixedHeight, spacing, caret;
  std::string text;
};

std::vector<int> Numbers(const std::string& s) {
  std::vector<int> v;
  std::istringstream in(s);
  int x;
  while (in >> x) v.push_back(x);
  return v;
}

TEST(TextLayout, MatchesALayoutWrittenFromTheRulesOverPillowAdvancesOracle) {
  std::string path;
  if (qvtest::RunCommand("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0 ||
      qvtest::RunCommand("fc-match -f '%{file}' 'DejaVu Sans:style=Book'", &path) != 0 || path.empty())
    GTEST_SKIP() << "python3 with Pillow, or the DejaVu Sans font, is missing";
  const int size = 14;
  const std::string para = "The quick brown fox jumps over the lazy dog and keeps on running far away";
  const LayoutCase cases[] = {
      {200, 200, 0, 0, 0, 0, 0, 1, 0, 0, 5, para},
      {200, 200, 5, 10, 5, 0, 0, 1, 0, 0, 20, para},
      {160, 300, 0, 0, 0, 0, 1, 1, 0, 0, 0, para},
      {160, 300, 0, 0, 0, 0, 2, 1, 0, 3, 70, para},
      {180, 300, 2, 2, 2, 2, 3, 1, 0, 0, 30, para + "\nsecond paragraph\n"},
      {150, 300, 0, 0, 0, 0, 0, 1, 20, 4, 12, "short\nlines\n\nand an empty one"},
      {60, 300, 0, 0, 0, 0, 0, 1, 0, 0, 3, "Averyveryverylongwordthatwraps here"},
      {200, 200, 0, 0, 0, 0, 0, 2, 0, 0, 9, para},
      {140, 200, 10, 0, 0, 0, 3, 2, 18, 2, 40, para},
      {200, 100, 0, 0, 0, 0, 0, 1, 0, 0, 0, ""},
  };
  std::string input = path + "\n" + std::to_string(size) + "\n";
  for (const LayoutCase& c : cases) {
    std::string t;
    for (char ch : c.text) t += ch == '\n' ? std::string("\\n") : std::string(1, ch);
    std::ostringstream line;
    line << c.width << '\t' << c.height << '\t' << c.left << '\t' << c.top << '\t' << c.right << '\t' << c.bottom
         << '\t' << c.align << '\t' << c.zoom << '\t' << c.fixedHeight << '\t' << c.spacing << '\t' << c.caret << '\t'
         << t << '\n';
    input += line.str();
  }
  std::vector<uint8_t> answer;
  std::string log;
  ASSERT_EQ(qvtest::RunOracleScript(std::string(QV_SOURCE_DIR) + "/tests/imaging/extras/textedit/layout_oracle.py",
                                    std::vector<uint8_t>(input.begin(), input.end()), answer, &log),
            0)
      << log;
  std::istringstream lines(std::string(answer.begin(), answer.end()));
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(500, 700);
  for (const LayoutCase& c : cases) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const size_t bar1 = line.find('|'), bar2 = line.rfind('|');
    const std::vector<int> ex = Numbers(line.substr(0, bar1)), et = Numbers(line.substr(bar1 + 1, bar2 - bar1 - 1)),
                           ec = Numbers(line.substr(bar2 + 1));
    TIETextControl control(nullptr);
    control.Font()->SetName("DejaVu Sans");
    control.Font()->SetHeight(-size);
    control.SetDefaultAlignment(static_cast<uint8_t>(c.align));
    control.SetMargins(c.left, c.top, c.right, c.bottom);
    control.SetZoom(c.zoom);
    control.SetFixedLineHeight(c.fixedHeight);
    control.SetLineSpacing(c.spacing);
    TIEMemoText memo;
    memo.Text = c.text;
    control.LendMemo(std::move(memo));
    control.LoadText();
    control.SetCaret(c.caret);
    TIECanvas canvas(bitmap.Canvas(), false, false);
    canvas.Canvas()->Font()->SetHeight(-size);
    control.LayoutText(&canvas, 0, 0, c.width, c.height);
    SCOPED_TRACE(c.text.substr(0, 20) + " width " + std::to_string(c.width) + " align " + std::to_string(c.align) +
                 " zoom " + std::to_string(c.zoom));
    ASSERT_EQ(ex.size(), c.text.size() + 1);
    for (int i = 0; i <= control.TextLength(); ++i) {
      EXPECT_NEAR(control.CharX(i), ex[static_cast<size_t>(i)], 1) << "left of " << i;
      EXPECT_NEAR(control.CharLineTop(i), et[static_cast<size_t>(i)], 1) << "line top of " << i;
    }
    ASSERT_EQ(ec.size(), 3u);
    EXPECT_NEAR(control.CaretX(), ec[0], 1);
    EXPECT_NEAR(control.CaretY(), ec[1], 1);
    EXPECT_NEAR(control.CaretHeight(), ec[2], 1);
  }
}

}  // namespace
