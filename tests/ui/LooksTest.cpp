// How the window reads in every look and on every screen: pressed toggles,
// the lit part of the faders, the panes' grounds and tabs, a first size that
// fits the screen, and GO and "STOP ALL" in sight at every size.
#include <cmath>

#include <QDockWidget>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTest>

#include "FrameRig.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"
#include "ui/FaderCtrl.h"
#include "ui/FrameIds.h"
#include "ui/Looks.h"

namespace orvex {
namespace {

// The average colour of a widget's inside, its edge left out.
QColor Mean(const QImage& image, const QRect& area) {
  double r = 0, g = 0, b = 0;
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      r += c.red();
      g += c.green();
      b += c.blue();
      ++n;
    }
  }
  return n ? QColor(int(r / n), int(g / n), int(b / n)) : QColor();
}

double Distance(const QColor& a, const QColor& b) {
  return std::hypot(a.red() - b.red(), a.green() - b.green(), a.blue() - b.blue());
}

QColor Inside(QWidget* w) {
  const QImage image = w->grab().toImage();
  return Mean(image, image.rect().adjusted(4, 4, -4, -4));
}

// Pixels of a strong colour (the style's lit groove) in a part of an image.
int LitPixels(const QImage& image, const QRect& area) {
  int n = 0;
  for (int y = std::max(area.top(), 0); y <= std::min(area.bottom(), image.height() - 1); ++y) {
    for (int x = std::max(area.left(), 0); x <= std::min(area.right(), image.width() - 1); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.hsvSaturation() > 100 && c.value() > 80) ++n;
    }
  }
  return n;
}

class LooksTest : public FrameTest {
 protected:
  template <typename W = QWidget>
  W* Find(int id) {
    W* w = m_frame->findChild<W*>(QStringLiteral("id%1").arg(id));
    EXPECT_NE(w, nullptr) << "no control id" << id;
    return w;
  }
  void Show() {
    m_frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_frame.get()));
    QApplication::processEvents();
  }
  // The lit pixels of a fader above and below its thumb.
  std::pair<int, int> Lit(CFaderCtrl* fader) {
    QApplication::processEvents();
    const QPixmap pixmap = fader->grab();
    const QImage image = pixmap.toImage();
    const qreal ratio = pixmap.devicePixelRatio();
    const QRect thumb = fader->ThumbRect();
    const auto px = [ratio](int v) { return int(std::lround(v * ratio)); };
    const QRect above(0, 0, image.width(), px(thumb.top()));
    const QRect below(0, px(thumb.bottom() + 1), image.width(), image.height());
    return {LitPixels(image, above), LitPixels(image, below)};
  }
};

TEST_F(LooksTest, PressedTogglesStandOutInEveryLook) {
  Show();
  // A routing toggle, a group's and the master's ON, a link and a
  // transport toggle with its symbol.
  const int toggles[] = {1102, 1049, 1105, 1111, 1344, 1009, 1077};
  for (int look = kLookPlain; look <= kLookAqua; ++look) {
    m_frame->ApplyLook(look);
    for (int id : toggles) {
      auto* button = Find<QPushButton>(id);
      ASSERT_NE(button, nullptr);
      ASSERT_TRUE(button->isCheckable()) << id;
      const bool was = button->isChecked();
      button->setChecked(false);
      const QColor off = Inside(button);
      button->setChecked(true);
      const QColor on = Inside(button);
      button->setChecked(was);
      // Far apart, not two near greys.
      EXPECT_GT(Distance(on, off), 120)
          << "look " << look << " id " << id << " on " << on.name().toStdString() << " off "
          << off.name().toStdString();
    }
  }
}

TEST_F(LooksTest, AFadersLitPartIsItsLevel) {
  Show();
  CConsole& console = m_runtime->Console();
  auto* ch1 = Find<CFaderCtrl>(1000);
  auto* ch2 = Find<CFaderCtrl>(1001);
  auto* ch3 = Find<CFaderCtrl>(1002);
  auto* master = Find<CFaderCtrl>(1007);
  ASSERT_TRUE(ch1 && ch2 && ch3 && master);
  console.Execute(cmd::FaderLevel{1, 0.0});
  console.Execute(cmd::FaderLevel{2, 10.0});
  console.Execute(cmd::FaderLevel{3, 5.0});
  console.Execute(cmd::MoveMaster{0});  // level 10
  for (int look = kLookPlain; look <= kLookAqua; ++look) {
    m_frame->ApplyLook(look);
    // Closed: nothing lit, above the thumb or anywhere.
    const auto [closedAbove, closedBelow] = Lit(ch1);
    EXPECT_LE(closedAbove + closedBelow, 4) << "look " << look;
    // Open: what is lit lies below the thumb.
    for (CFaderCtrl* open : {ch2, master}) {
      const auto [above, below] = Lit(open);
      EXPECT_LE(above, 4) << "look " << look << " " << open->objectName().toStdString();
      // The classic style draws a plain line; the others light it.
      if (look != kLookPlain) EXPECT_GT(below, 100) << "look " << look;
    }
    const auto [halfAbove, halfBelow] = Lit(ch3);
    EXPECT_LE(halfAbove, 4) << "look " << look;
    if (look != kLookPlain) EXPECT_GT(halfBelow, 40) << "look " << look;
  }
}

TEST_F(LooksTest, PanesKeepDarkTextOnALightGroundAndWholeTabsInTheBlackLook) {
  m_frame->ApplyLook(kLookBlack);
  Show();
  m_frame->Pane(ids::kProgressPane)->raise();
  QApplication::processEvents();
  // What the operator sees: the whole window, where the window's dark
  // ground could show through the panes.
  const QImage window = m_frame->grab().toImage();
  const qreal ratio = window.devicePixelRatio();
  for (int id : {ids::kProgressPane, ids::kCueListPane}) {
    QWidget* contents = m_frame->Pane(id)->widget();
    ASSERT_NE(contents, nullptr);
    for (QLabel* label : contents->findChildren<QLabel*>()) {
      if (!label->isVisible() || label->text().isEmpty()) continue;
      const QRect at(label->mapTo(m_frame.get(), QPoint(0, 0)), label->size());
      const QRect device(int(at.x() * ratio), int(at.y() * ratio), int(at.width() * ratio),
                         int(at.height() * ratio));
      // Mostly ground: the label's average is close to its ground, and the
      // text colour must stand apart from it.
      const QColor ground = Mean(window, device);
      const QColor text = label->palette().color(label->foregroundRole());
      EXPECT_GT(Distance(ground, text), 250)
          << "pane " << id << " label " << label->text().toStdString() << " ground "
          << ground.name().toStdString();
    }
  }
  // The captions of tabbed panes are never cut short, however narrow.
  m_frame->resizeDocks({m_frame->Pane(ids::kCueListPane)}, {120}, Qt::Horizontal);
  QApplication::processEvents();
  int tabs = 0;
  for (QTabBar* bar : m_frame->findChildren<QTabBar*>()) {
    if (bar->parentWidget() != m_frame.get()) continue;
    for (int i = 0; i < bar->count(); ++i, ++tabs) {
      const QString text = bar->tabText(i);
      EXPECT_GE(bar->tabRect(i).width(), bar->fontMetrics().horizontalAdvance(text))
          << text.toStdString();
    }
  }
  EXPECT_EQ(tabs, 4);
}

TEST_F(LooksTest, TheWindowOpensOnTheScreenAndGoStaysInSight) {
  Show();
  const QRect available = m_frame->screen()->availableGeometry();
  EXPECT_TRUE(available.contains(m_frame->frameGeometry()))
      << m_frame->frameGeometry().width() << "x" << m_frame->frameGeometry().height() << " on "
      << available.width() << "x" << available.height();

  auto* view = m_frame->findChild<QScrollArea*>(QStringLiteral("COrvexView"));
  ASSERT_NE(view, nullptr);
  QWidget* go = Find(1076);
  QWidget* stopAll = Find(1179);
  const auto inSight = [&](QWidget* w) {
    const QRect at(w->mapTo(view->viewport(), QPoint(0, 0)), w->size());
    return view->viewport()->rect().contains(at);
  };
  const auto checkEveryScroll = [&](const char* where) {
    QScrollBar* h = view->horizontalScrollBar();
    QScrollBar* v = view->verticalScrollBar();
    for (int x : {h->minimum(), (h->minimum() + h->maximum()) / 2, h->maximum()}) {
      for (int y : {v->minimum(), (v->minimum() + v->maximum()) / 2, v->maximum()}) {
        h->setValue(x);
        v->setValue(y);
        QApplication::processEvents();
        EXPECT_TRUE(inSight(go)) << where << " scrolled to " << x << "," << y;
        EXPECT_TRUE(inSight(stopAll)) << where << " scrolled to " << x << "," << y;
      }
    }
  };
  checkEveryScroll("first size");
  // As small as the window goes.
  m_frame->resize(1, 1);
  QApplication::processEvents();
  ASSERT_TRUE(view->viewport()->width() < view->widget()->width() ||
              view->viewport()->height() < view->widget()->height());
  checkEveryScroll("smallest size");
  // GO still answers where it is.
  int gos = 0;
  QObject::connect(static_cast<QPushButton*>(go), &QPushButton::clicked, [&] { ++gos; });
  QTest::mouseClick(go, Qt::LeftButton);
  EXPECT_EQ(gos, 1);
  // With the whole form in sight, GO is back in its own place.
  m_frame->resize(1600, 1200);
  view->horizontalScrollBar()->setValue(0);
  view->verticalScrollBar()->setValue(0);
  QApplication::processEvents();
  ASSERT_GE(view->viewport()->width(), view->widget()->width());
  ASSERT_GE(view->viewport()->height(), view->widget()->height());
  EXPECT_EQ(go->geometry(), DluRect(DialogFont(), 295, 178, 51, 30));
  EXPECT_EQ(stopAll->geometry(), DluRect(DialogFont(), 295, 209, 50, 14));
}

}  // namespace
}  // namespace orvex
