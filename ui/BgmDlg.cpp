#include "ui/BgmDlg.h"

#include <cstdlib>

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStyle>

#include "show/Messages.h"
#include "show/TextNumbers.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

// The folder a file dialog starts in: where path lies, when it is there.
QString ExistingFolder(const QString& path) {
  if (path.isEmpty()) return {};
  const QFileInfo info(QDir::fromNativeSeparators(path));
  return info.isDir() ? info.absoluteFilePath() : (info.dir().exists() ? info.path() : QString());
}

}  // namespace

CBGMDlg::CBGMDlg(CBgmList& list, QWidget* parent) : QDialog(parent), m_list(list) {
  setObjectName(QStringLiteral("id242"));
  setWindowTitle(QStringLiteral("連続再生リスト編集"));
  setWindowFlag(Qt::Tool);
  setFont(DialogFont());
  setAcceptDrops(true);
  DluPlacer at(this);

  at.Label(QStringLiteral("連続再生リストファイル"), 7, 9, 100);
  auto* fresh = at.Put(new QPushButton(QStringLiteral("新規")), 1210, 120, 7, 35, 12);
  auto* read = at.Put(new QPushButton(QStringLiteral("読込")), 1325, 158, 7, 35, 12);
  auto* save = at.Put(new QPushButton(QStringLiteral("保存")), 1203, 196, 7, 35, 12);
  m_path = at.Put(new QLineEdit, 1324, 7, 21, 225, 12);

  at.Label(QStringLiteral("Vol."), 20, 44, 20);
  at.Label(QStringLiteral("10"), 8, 56, 12);
  at.Label(QStringLiteral("5"), 10, 100, 12);
  at.Label(QStringLiteral("0"), 10, 144, 12);
  m_level = at.Put(new QSlider(Qt::Vertical), 1323, 22, 56, 18, 96);
  m_level->setRange(0, 100);
  m_level->setTickInterval(10);
  m_level->setTickPosition(QSlider::TicksBothSides);
  m_level->setInvertedAppearance(true);  // position 0 (full level) at the top

  at.Label(QStringLiteral("連続再生フォルダ"), 60, 38, 100);
  auto* browse = at.Put(new QPushButton(QStringLiteral("参照")), 1205, 196, 36, 35, 12);
  m_folder = at.Put(new QLineEdit, 1119, 60, 50, 172, 12);
  at.Label(QStringLiteral("連続再生リスト"), 60, 66, 100);
  auto* clear = at.Put(new QPushButton(QStringLiteral("クリア")), 1209, 196, 63, 35, 12);
  m_items = at.Put(new QListWidget, 1326, 60, 76, 172, 76);

  auto* fadeOut = at.Put(new QPushButton(QStringLiteral("F.O")), 1215, 7, 156, 22, 14);
  m_seconds = at.Put(new QLineEdit, 1216, 31, 157, 22, 12);
  at.Label(QStringLiteral("秒"), 55, 159, 10);
  m_play = at.Put(new QPushButton(QStringLiteral("Play")), 1117, 68, 156, 32, 14);
  m_play->setCheckable(true);
  m_play->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  auto* stop = at.Put(new QPushButton(QStringLiteral("Stop")), 1327, 102, 156, 32, 14);
  stop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  m_up = at.Put(new QPushButton(QStringLiteral("▲")), 1183, 137, 156, 16, 14);
  m_down = at.Put(new QPushButton(QStringLiteral("▼")), 1191, 155, 156, 16, 14);
  auto* add = at.Put(new QPushButton(QStringLiteral("追加")), 1145, 174, 156, 28, 14);
  auto* remove = at.Put(new QPushButton(QStringLiteral("削除")), 1150, 204, 156, 28, 14);
  setFixedSize(at.Size(239, 177));

  connect(fresh, &QPushButton::clicked, this, &CBGMDlg::OnNew);
  connect(read, &QPushButton::clicked, this, &CBGMDlg::OnRead);
  connect(save, &QPushButton::clicked, this, [this] { SaveWithDialog(); });
  connect(browse, &QPushButton::clicked, this, &CBGMDlg::OnBrowseFolder);
  connect(clear, &QPushButton::clicked, this, [this] { m_list.Clear(); });
  connect(add, &QPushButton::clicked, this, &CBGMDlg::OnAdd);
  connect(remove, &QPushButton::clicked, this, [this] { m_list.DeleteSelected(); });
  connect(m_up, &QPushButton::clicked, this, [this] { m_list.MoveUp(); });
  connect(m_down, &QPushButton::clicked, this, [this] { m_list.MoveDown(); });
  connect(m_play, &QPushButton::clicked, this, [this] {
    m_list.Play();
    // Play with nothing to play only releases the toggle.
    m_play->setChecked(m_list.Playing());
  });
  connect(stop, &QPushButton::clicked, this, [this] { m_list.Stop(); });
  connect(fadeOut, &QPushButton::clicked, this, &CBGMDlg::OnFadeOut);
  connect(m_path, &QLineEdit::editingFinished, this, [this] {
    m_list.SetListPath(S(m_path->text()));
    m_path->setToolTip(m_path->text().left(1023));
  });
  connect(m_folder, &QLineEdit::editingFinished, this, [this] {
    m_list.SetFolder(S(m_folder->text()));
    m_folder->setToolTip(m_folder->text().left(1023));
  });
  connect(m_seconds, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_list.SetFadeOutSeconds(std::atof(S(text).c_str())); });
  connect(m_level, &QSlider::valueChanged, this, [this](int position) {
    if (!m_filling) m_list.MoveSlider(position);
  });
  connect(m_items, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!m_filling) m_list.Select(row);
  });
  connect(m_items, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    if (!m_filling) m_list.SetCheck(m_items->row(item), item->checkState() == Qt::Checked);
  });
  connect(m_items, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { m_list.Restart(m_items->row(item)); });

  chooseListToRead = [this](const QString& start) {
    return QFileDialog::getOpenFileName(this, QStringLiteral("読込"), start,
                                        QStringLiteral("すべてのファイル (*)"));
  };
  chooseListToSave = [this](const QString& start) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("保存"), start,
                                        QStringLiteral("すべてのファイル (*)"));
  };
  chooseSounds = [this](const QString& start) {
    return QFileDialog::getOpenFileNames(
        this, QStringLiteral("追加"), start,
        QStringLiteral("WAVファイル (*.wav *.WAV);;すべてのファイル (*)"));
  };
  chooseFolder = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("フォルダを選択してください。"),
                                             start);
  };

  m_seconds->setText(Q(FormatG(m_list.FadeOutSeconds())));
  m_list.SetListener(this);
  FillItems();
  OnBgmChanged(BgmChange::kSlider);
  OnBgmChanged(BgmChange::kPlaying);
}

CBGMDlg::~CBGMDlg() {
  m_list.SetListener(nullptr);
}

void CBGMDlg::OnBgmChanged(BgmChange what) {
  switch (what) {
    case BgmChange::kItems:
      FillItems();
      break;
    case BgmChange::kSelection:
      ShowSelection();
      break;
    case BgmChange::kPlaying:
      m_play->setChecked(m_list.Playing());
      break;
    case BgmChange::kSlider: {
      m_filling = true;
      m_level->setValue(m_list.SliderPosition());
      m_filling = false;
      break;
    }
  }
}

void CBGMDlg::FillItems() {
  m_filling = true;
  if (!m_path->hasFocus()) m_path->setText(Q(m_list.ListPath()));
  if (!m_folder->hasFocus()) m_folder->setText(Q(m_list.Folder()));
  m_path->setToolTip(m_path->text().left(1023));
  m_folder->setToolTip(m_folder->text().left(1023));
  m_items->clear();
  for (const ListItem& item : m_list.Items()) {
    auto* row = new QListWidgetItem(Q(item.text), m_items);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(item.checked ? Qt::Checked : Qt::Unchecked);
  }
  m_filling = false;
  ShowSelection();
}

void CBGMDlg::ShowSelection() {
  m_filling = true;
  m_items->setCurrentRow(m_list.Selected());
  // The item player 0 holds stands out in bold.
  for (int i = 0; i < m_items->count(); ++i) {
    QFont font = m_items->font();
    font.setBold(i == m_list.Current() && m_list.Playing());
    m_items->item(i)->setFont(font);
  }
  m_filling = false;
  m_up->setEnabled(m_list.CanMoveUp());
  m_down->setEnabled(m_list.CanMoveDown());
}

QString CBGMDlg::ProposedFolder() const {
  return ExistingFolder(Q(m_list.Folder()));
}

void CBGMDlg::OnNew() {
  if (m_list.Modified()) {
    if (ConfirmYesNo(kNewQuestion, true) != kAnswerYes) return;
    SaveWithDialog();
  }
  m_list.New();
}

void CBGMDlg::OnRead() {
  const QString path = chooseListToRead(ExistingFolder(Q(m_list.ListPath())));
  if (!path.isEmpty()) m_list.Load(S(path));
}

bool CBGMDlg::SaveWithDialog() {
  const QString path = chooseListToSave(Q(m_list.ListPath()));
  if (path.isEmpty()) return false;
  return m_list.SaveAs(S(path));
}

void CBGMDlg::AskAtExit() {
  if (m_list.Modified() && ConfirmYesNo(kExitQuestion, true) == kAnswerYes) SaveWithDialog();
}

void CBGMDlg::OnAdd() {
  QStringList chosen = chooseSounds(ProposedFolder());
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(S(path));
  if (!paths.empty()) m_list.AddFiles(paths);
}

void CBGMDlg::OnBrowseFolder() {
  const QString folder = chooseFolder(ProposedFolder());
  if (folder.isEmpty()) return;
  m_list.SetFolder(S(folder));
  m_folder->setText(folder);
}

void CBGMDlg::OnFadeOut() {
  const double seconds = std::atof(S(m_seconds->text()).c_str());
  m_list.SetFadeOutSeconds(seconds);
  m_list.FadeOut(seconds);
}

void CBGMDlg::closeEvent(QCloseEvent* event) {
  hide();
  event->ignore();
  if (onClosed) onClosed();
}

void CBGMDlg::reject() {
  // Escape hides the window as its close box does; nothing stops.
  hide();
  if (onClosed) onClosed();
}

void CBGMDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CBGMDlg::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(S(url.toLocalFile()));
  if (!paths.empty()) m_list.AddFiles(paths);
  event->acceptProposedAction();
}

}  // namespace orvex
