// A fixture base that makes sure a QApplication exists; gtest_main owns main().
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include "ui/Translations.h"

class QtAppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down during static destruction is fragile.
    auto* app = new QApplication(argc, argv);
    // Qt's dialogs as the program shows them.
    orvex::InstallQtTranslations(*app);
  }
};
