#include <QFontInfo>
#include <QFontMetrics>

#include "QtTestApp.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

TEST(DialogUnits, BaseUnitsTruncateLikeTheDesktop) {
  // 337 / 26 = 12.96: an averaging that rounds would give 7.
  EXPECT_EQ(DialogBaseUnits(337, 13).x, 6);
  EXPECT_EQ(DialogBaseUnits(312, 13).x, 6);
  EXPECT_EQ(DialogBaseUnits(338, 13).x, 7);
  EXPECT_EQ(DialogBaseUnits(338, 15).y, 15);
}

TEST(DialogUnits, EachValueIsTruncatedOnItsOwn) {
  const DluBase base{7, 15};
  EXPECT_EQ(DluToPixelsX(base, 3), 5);  // 5.25
  EXPECT_EQ(DluToPixelsY(base, 3), 5);  // 5.625, not rounded up
  EXPECT_EQ(DluToPixelsX(base, 4), 7);
  EXPECT_EQ(DluToPixelsY(base, 8), 15);
  EXPECT_EQ(DluToPixelsX(base, 0), 0);
}

class DialogFontTest : public QtAppTest {};

TEST_F(DialogFontTest, IsTheInstalledGothicAtTwelvePixels) {
  const QFontInfo info(DialogFont());
  EXPECT_EQ(info.family(), QStringLiteral("IPAGothic"));
  EXPECT_EQ(info.pixelSize(), 12);
}

TEST_F(DialogFontTest, RectsFollowTheFontBaseUnits) {
  const QFont font = DialogFont();
  const DluBase base = DialogBaseUnits(font);
  // Latin letters of this font are half-width: 52 × 6 px.
  EXPECT_EQ(base.x, 6);
  EXPECT_EQ(base.y, QFontMetrics(font).height());

  EXPECT_EQ(DluRect(font, 0, 0, 4, 8), QRect(0, 0, base.x, base.y));
  EXPECT_EQ(DluSize(font, 236, 81), QSize(354, 81 * base.y / 8));
  EXPECT_EQ(DluRect(font, 122, 60, 50, 14), QRect(183, 60 * base.y / 8, 75, 14 * base.y / 8));
  EXPECT_EQ(DluRect(font, 5, 7, 9, 11).topLeft(),
            QPoint(DluToPixelsX(font, 5), DluToPixelsY(font, 7)));
  EXPECT_EQ(DluRect(font, 5, 7, 9, 11).size(), DluSize(font, 9, 11));
}

}  // namespace
}  // namespace orvex
