// What the operator must see of a message box, at any scaling: the whole
// text without scrolling, the buttons below it, everything on the screen.
#pragma once

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/MessageBox.h"

namespace orvex {

// Shows the box (not modally), checks it and hands it to `look` while shown.
template <typename Look>
void ExpectWholeTextVisible(CMessageBox& box, Look look) {
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  auto* text = box.findChild<QPlainTextEdit*>(QStringLiteral("text"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->verticalScrollBar()->maximum(), 0)
      << text->toPlainText().toStdString() << ": text " << text->height() << " px high";
  EXPECT_EQ(text->horizontalScrollBar()->maximum(), 0);
  for (const char* name : {"yes", "no", "cancel"}) {
    auto* button = box.findChild<QPushButton*>(QString::fromLatin1(name));
    if (!button || !button->isVisibleTo(&box)) continue;
    EXPECT_GE(button->y(), text->geometry().bottom()) << name;
    EXPECT_TRUE(box.rect().contains(button->geometry())) << name;
  }
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE(box.width(), screen.width());
  EXPECT_LE(box.height(), screen.height());
  look(box);
  box.hide();
}

}  // namespace orvex
