// The message boxes at 200 % scaling (QT_SCALE_FACTOR=2, set before the
// application starts): the device selection rules' two-line messages show
// whole, without a scroll bar over their end. With ORVEX_SHOT_DIR set the
// boxes are saved there as pictures to look at.
#include <cstdlib>

#include <QDir>

#include "MessageFits.h"
#include "QtTestApp.h"
#include "output/DeviceModel.h"

namespace orvex {
namespace {

class MessageBoxAt200 : public QtAppTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(QApplication::instance(), nullptr);
    setenv("QT_SCALE_FACTOR", "2", 1);
    QtAppTest::SetUpTestSuite();
  }
  static void Save(QWidget& box, const QString& name) {
    const char* dir = std::getenv("ORVEX_SHOT_DIR");
    if (!dir || !*dir) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    EXPECT_TRUE(box.grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name));
  }
};

TEST_F(MessageBoxAt200, DeviceRuleMessagesShowWhole) {
  ASSERT_DOUBLE_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
  const std::pair<const char*, const char*> messages[] = {
      {kAsioTwice, "message-asio-twice-200.png"},
      {kExclusiveTwice, "message-exclusive-twice-200.png"},
      {kExclusiveSameLine, "message-exclusive-same-line-200.png"}};
  for (const auto& message : messages) {
    CMessageBox box(QString::fromUtf8(message.first), false);
    ExpectWholeTextVisible(box, [&](QWidget& b) { Save(b, QString::fromLatin1(message.second)); });
  }
  std::unique_ptr<CMessageBox> cancel(
      CMessageBox::WithCancel(QString::fromUtf8(kExclusiveSameLine)));
  ExpectWholeTextVisible(*cancel,
                         [&](QWidget& b) { Save(b, QStringLiteral("message-cancel-200.png")); });
}

}  // namespace
}  // namespace orvex
