// The rich text control on the desktop back end (Qt offscreen): keys typed
// through Qt's events reach it, and its private format goes through the
// desktop's clipboard both ways.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "imaging/extras/textedit/text_control.h"
#include "platform/ui/forms.h"
#include "platform/ui/qt/qt_backend.h"

namespace {

class QtMemoTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto qt = MakeQtBackend();
    ASSERT_TRUE(qt);
    SetUIBackend(std::move(qt));
    InitializeUI();
    RegisterTextMemoClipboardFormat();
    form = new TForm(Application);
    form->SetBorderStyle(bsDialog);
    form->SetClientWidth(240);
    form->SetClientHeight(120);
    control = new TIETextControl(form);
    control->SetParent(form);
    control->SetBounds(8, 8, 224, 104);
    control->Font()->SetName("DejaVu Sans");
    control->Font()->SetHeight(-14);
    form->Show();
    control->SetFocus();
    Settle();
  }
  void TearDown() override {
    FinalizeUI();
    SetUIBackend(nullptr);
  }
  static void Settle() {
    for (int i = 0; i < 5; ++i) Application->ProcessMessages();
  }
  void Key(const std::string& key) {
    qtinput::Key(form->Handle(), key);
    Settle();
  }
  TForm* form = nullptr;
  TIETextControl* control = nullptr;
};

const QString kMemoMime = QStringLiteral("application/x-quorvane-IMAGELIB TEXTMEMO");

TEST_F(QtMemoTest, TypedKeysAndThePrivateFormatThroughTheDesktopClipboard) {
  for (const char* k : {"Shift+A", "Space", "B", "Return", "C"}) Key(k);
  ASSERT_EQ(control->Memo().Text, "A b\nc");
  // Bold on the first word, then copy everything.
  Key("Ctrl+Home");
  Key("Shift+Right");
  Key("Ctrl+B");
  Key("Ctrl+End");
  Key("Shift+Ctrl+Home");
  Key("Ctrl+C");
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->text().toStdString(), "A b\r\nc");
  const QByteArray memo = data->data(kMemoMime);
  ASSERT_EQ(memo.size(), 5 * 281 + 1);
  EXPECT_EQ(static_cast<uint8_t>(memo[6 + 264]) & 1, 1);  // the first record is bold

  // Another program puts the same bytes back with other characters: the formats come in.
  QByteArray theirs = memo;
  theirs[0] = 'Z';
  auto* mime = new QMimeData;
  mime->setText(QStringLiteral("plain"));
  mime->setData(kMemoMime, theirs);
  QGuiApplication::clipboard()->setMimeData(mime);
  Key("Ctrl+End");
  Key("Ctrl+V");
  EXPECT_EQ(control->Memo().Text, "A b\ncZ b\nc");
  EXPECT_TRUE(control->GetCharFormat(5)->FontStyle & 1);
  EXPECT_FALSE(control->GetCharFormat(6)->FontStyle & 1);
}

}  // namespace
