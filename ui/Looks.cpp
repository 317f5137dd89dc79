#include "ui/Looks.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace orvex {

namespace {

// The colour set of one look.
struct LookColours {
  const char* window;  // frame background, pane separators
  const char* barTop;  // menu bar, toolbars, status bar: gradient
  const char* barBottom;
  const char* text;
  const char* highlight;  // hovered and selected items
  const char* highlightText;
  const char* border;
  const char* menu;  // popup menus
  // Toolbars, when they differ from the menu bar: the toolkit's dark button
  // symbols must stay readable on them.
  const char* toolTop = nullptr;
  const char* toolBottom = nullptr;
};

// The 2007-style colour last chosen; unknown ids fall back on it.
int g_current2007 = kLookBlue;

const LookColours* ColoursOf(int id) {
  static const LookColours kOfficeXp = {"#f0f0ee", "#fbfaf6", "#e6e4dc", "#000000",
                                        "#c1d2ee", "#000000", "#316ac5", "#fcfcf9"};
  static const LookColours kWindows = {"#f0f0f0", "#fafafa", "#e8e8e8", "#000000",
                                       "#cce4f7", "#000000", "#7eb4ea", "#f9f9f9"};
  static const LookColours k2003 = {"#c3daf9", "#e3effe", "#9ebfee", "#000000",
                                    "#ffeec2", "#000000", "#000080", "#f6f6f6"};
  static const LookColours k2005 = {"#ece9d8", "#fafaf7", "#dcd8c6", "#000000",
                                    "#c1d2ee", "#000000", "#316ac5", "#fcfcf9"};
  static const LookColours kBlue = {"#bfdbff", "#e4efff", "#a9c9f5", "#15428b",
                                    "#ffe38c", "#000000", "#6593cf", "#f6f8fc"};
  static const LookColours kBlack = {"#535353", "#6b6b6b", "#3c3c3c", "#ffffff", "#ffd56b",
                                     "#000000", "#2a2a2a", "#f5f5f5", "#dcdcdc", "#a4a4a4"};
  static const LookColours kSilver = {"#d0d4dd", "#f2f3f6", "#c4c9d4", "#3b3b3b",
                                      "#ffe38c", "#000000", "#8f96a3", "#fafafa"};
  static const LookColours kAqua = {"#bce4ea", "#e6f6f8", "#9fd3dc", "#0f4b57",
                                    "#ffe38c", "#000000", "#4d9aa8", "#f5fbfc"};
  switch (id) {
    case kLookOfficeXp:
      return &kOfficeXp;
    case kLookWindows:
      return &kWindows;
    case kLook2003:
      return &k2003;
    case kLook2005:
      return &k2005;
    case kLookBlue:
      return &kBlue;
    case kLookBlack:
      return &kBlack;
    case kLookSilver:
      return &kSilver;
    case kLookAqua:
      return &kAqua;
    default:
      return nullptr;  // plain
  }
}

}  // namespace

int NormalizeLook(int id) {
  if (id >= kLookPlain && id <= kLookAqua) return id;
  return g_current2007;
}

// The console's toggles (routing, ON, links, transport) pressed in: lit,
// in every look, so that on and off read apart at a glance across the
// room. Released ones keep the style's own button.
constexpr const char* kPressedToggles =
    "#console QPushButton:checked { background: #ffa31a; color: #000000;"
    " border: 2px solid #6b3d00; border-radius: 2px; padding: 0px; }";
// Tabs of panes docked together keep their whole captions: a narrow group
// scrolls its tabs rather than cutting "Ｑシート" short.
constexpr const char* kPaneTabs =
    "QMainWindow > QTabBar { qproperty-elideMode: ElideNone;"
    " qproperty-usesScrollButtons: true; }";

QString LookStyleSheet(int id) {
  const QString toggles = QLatin1String(kPressedToggles) + QLatin1String(kPaneTabs);
  const LookColours* c = ColoursOf(NormalizeLook(id));
  if (!c) return toggles;
  const auto gradient = [](const char* top, const char* bottom) {
    return QStringLiteral("qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2)")
        .arg(QLatin1String(top), QLatin1String(bottom));
  };
  const QString bar = gradient(c->barTop, c->barBottom);
  const QString tools = c->toolTop ? gradient(c->toolTop, c->toolBottom) : bar;
  // Only the frame's own parts are named, so the console form and the panes'
  // contents keep their colours in every look.
  return QStringLiteral(
             "QMainWindow { background: %1; }"
             "QMainWindow::separator { background: %1; width: 4px; height: 4px; }"
             "QMenuBar { background: %2; color: %3; border-bottom: 1px solid %6; }"
             "QMenuBar::item { background: transparent; padding: 3px 8px; }"
             "QMenuBar::item:selected { background: %4; color: %5; border: 1px solid %6; }"
             "QMenu { background: %7; color: #000000; border: 1px solid %6; }"
             "QMenu::item { padding: 3px 24px 3px 24px; }"
             "QMenu::item:selected { background: %4; color: %5; }"
             "QMenu::item:disabled { color: #8d8d8d; }"
             "QMenu::separator { height: 1px; background: %6; margin: 3px 6px; }"
             "QToolBar { background: %8; border: 1px solid %6; spacing: 2px; padding: 1px; }"
             "QToolBar::separator { background: %6; width: 1px; margin: 3px 2px; }"
             "QToolButton { border: 1px solid transparent; padding: 1px; }"
             "QToolButton:hover { background: %4; border: 1px solid %6; }"
             "QToolButton:pressed { background: %6; }"
             "QStatusBar { background: %2; color: %3; }"
             "QStatusBar QLabel { color: %3; }"
             "QDockWidget { color: %3; }"
             "QDockWidget::title { background: %2; padding: 3px; border: 1px solid %6; }"
             // The caption's float and close symbols are dark: a light ground
             // keeps them visible on every caption colour.
             "QDockWidget::close-button, QDockWidget::float-button { background: %7;"
             " border: 1px solid %6; border-radius: 2px; }"
             "QMainWindow > QTabBar::tab { background: %2; color: %3; border: 1px solid %6;"
             " padding: 3px 6px; }"
             "QMainWindow > QTabBar::tab:selected { background: %7; color: #000000; }")
             .arg(QLatin1String(c->window), bar, QLatin1String(c->text),
                  QLatin1String(c->highlight), QLatin1String(c->highlightText),
                  QLatin1String(c->border), QLatin1String(c->menu), tools) +
         toggles;
}

void ApplyLookTo(QWidget& window, int id) {
  const int look = NormalizeLook(id);
  if (look >= kLookBlue) g_current2007 = look;
  // The plain look is the toolkit's own classic style; the others share one
  // style and differ in colour, so switching between them costs little.
  const QString styleName =
      look == kLookPlain ? QStringLiteral("Windows") : QStringLiteral("Fusion");
  if (QApplication::style()->name().compare(styleName, Qt::CaseInsensitive) != 0) {
    if (QStyle* style = QStyleFactory::create(styleName)) QApplication::setStyle(style);
  }
  window.setStyleSheet(LookStyleSheet(look));
  window.update();
}

}  // namespace orvex
