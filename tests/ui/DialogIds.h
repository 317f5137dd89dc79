// Dialog controls found by their ids ("id1148"), typed into and clicked as an
// operator does.
#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace orvex {

template <class W = QWidget>
W* Id(QWidget* dialog, int id) {
  auto* w = dialog->findChild<W*>(QStringLiteral("id%1").arg(id));
  EXPECT_NE(w, nullptr) << id;
  return w;
}

// Into an edit box or an editable combo box.
inline void Type(QWidget* dialog, int id, const QString& text) {
  if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("id%1").arg(id))) {
    edit->setText(text);
  } else if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("id%1").arg(id))) {
    combo->setEditText(text);
  } else {
    ADD_FAILURE() << "no box " << id;
  }
}

inline void Click(QWidget* dialog, int id) {
  if (auto* button = Id<QAbstractButton>(dialog, id)) QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace orvex
