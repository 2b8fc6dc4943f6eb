// The window's controls and their layout: what the window looks like, apart from what it does.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/mainfrm.h"
#include "gui/webpane.h"

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QWidget* Panel(const char* name, QWidget* parent) {
  auto* panel = Named(new QWidget(parent), name);
  panel->setContentsMargins(0, 0, 0, 0);
  return panel;
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Text, color);
  palette.setColor(QPalette::ButtonText, color);
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

}  // namespace

void Tmainfrm::BuildControls() {
  setObjectName("mainfrm");
  setWindowTitle("Lorvanta - Ostravel");
  resize(870, 640);

  auto* central = new QWidget(this);
  auto* centralLayout = new QHBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  Splitter1 = Named(new QSplitter(Qt::Horizontal, central), "Splitter1");
  Splitter1->setHandleWidth(6);
  Splitter1->setChildrenCollapsible(false);
  centralLayout->addWidget(Splitter1);
  setCentralWidget(central);

  // Left half: the album pane.
  left_gb = Named(new QGroupBox("Lorvanta", Splitter1), "left_gb");
  auto* leftLayout = new QVBoxLayout(left_gb);
  leftLayout->setContentsMargins(2, 2, 2, 2);
  leftLayout->setSpacing(0);

  Panel1 = Panel("Panel1", left_gb);
  Panel1->setFixedHeight(66);
  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setVerticalSpacing(6);
  Label1 = Named(new QLabel("输入QQ号码：", Panel1), "Label1");
  edtqq = Named(new QLineEdit(Panel1), "edtqq");
  QFont qqFont = edtqq->font();
  qqFont.setBold(true);
  edtqq->setFont(qqFont);
  SetTextColor(edtqq, QColor(0x00, 0x80, 0x00));
  btnview = Named(new QPushButton(QString::fromUtf8(kCaptionPreviewIdle), Panel1), "btnview");
  btnonline = Named(new QPushButton("在线查看", Panel1), "btnonline");
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(edtqq, 0, 1);
  grid->addWidget(btnview, 1, 0);
  grid->addWidget(btnonline, 1, 1);
  leftLayout->addWidget(Panel1);

  Panel3 = Panel("Panel3", left_gb);
  auto* albumLayout = new QVBoxLayout(Panel3);
  albumLayout->setContentsMargins(0, 0, 0, 0);
  iedown = Named(new TWebPane(Panel3), "iedown");
  albumLayout->addWidget(iedown);
  leftLayout->addWidget(Panel3, 1);

  Panel2 = Panel("Panel2", left_gb);
  Panel2->setFixedHeight(41);
  auto* downLayout = new QHBoxLayout(Panel2);
  downLayout->setContentsMargins(4, 4, 4, 4);
  btn_down = Named(new QPushButton(QString::fromUtf8(kCaptionDownloadIdle), Panel2), "btn_down");
  SetTextColor(btn_down, QColor(0x00, 0x00, 0xFF));
  downLayout->addWidget(btn_down);
  // Unticked, a download is the whole copy; ticked, it keeps the album root and fetches only new photos.
  chkonlynew = Named(new QCheckBox(kCaptionOnlyNewPhotos, Panel2), "chkonlynew");
  chkonlynew->setChecked(false);
  downLayout->addWidget(chkonlynew);
  leftLayout->addWidget(Panel2);

  // Right half: the online pane.
  ie_gb = Named(new QGroupBox("在线查看QQ相册", Splitter1), "ie_gb");
  auto* rightLayout = new QVBoxLayout(ie_gb);
  rightLayout->setContentsMargins(2, 2, 2, 2);
  rightLayout->setSpacing(0);
  Panel4 = Panel("Panel4", ie_gb);
  Panel4->setFixedHeight(36);
  auto* addressLayout = new QHBoxLayout(Panel4);
  addressLayout->setContentsMargins(4, 4, 4, 4);
  edtieurl = Named(new QLineEdit(Panel4), "edtieurl");
  btniego = Named(new QPushButton("访问", Panel4), "btniego");
  btn_home = Named(new QPushButton("主页", Panel4), "btn_home");
  addressLayout->addWidget(edtieurl, 1);
  addressLayout->addWidget(btniego);
  addressLayout->addWidget(btn_home);
  rightLayout->addWidget(Panel4);
  ie = Named(new TWebPane(ie_gb), "ie");
  rightLayout->addWidget(ie, 1);

  Splitter1->addWidget(left_gb);
  Splitter1->addWidget(ie_gb);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({217, 870 - 217 - 6});

  // Status bar: panel 0 for the job, panel 1 for the online pane's status text.
  sb = Named(new QStatusBar(this), "sb");
  setStatusBar(sb);
  for (int i = 0; i < 2; ++i) {
    statusPanels_[i] = new QLabel(sb);
    statusPanels_[i]->setObjectName(QString("sb_panel%1").arg(i));
  }
  statusPanels_[0]->setFixedWidth(220);
  statusPanels_[1]->setMinimumWidth(50);  // the last panel takes what is left, as status bars do
  sb->addWidget(statusPanels_[0]);
  sb->addWidget(statusPanels_[1], 1);

  iedown_start = Named(new QTimer(this), "iedown_start");
  iedown_start->setInterval(1000);
  TimerCheck = Named(new QTimer(this), "TimerCheck");
  TimerCheck->setInterval(5000);

  // Pane settings: the album pane is an application surface (no menu, Ctrl+Y swallowed); the online pane
  // is a browser (standard menu without view source, Ctrl+N swallowed).
  iedown->SetContextMenuEnabled(false);
  iedown->SetDisableCtrlShortcuts("Y");
  ie->SetContextMenuEnabled(true);
  ie->SetDisableCtrlShortcuts("N");

  connect(iedown_start, &QTimer::timeout, this, &Tmainfrm::iedown_startTimer);
  connect(TimerCheck, &QTimer::timeout, this, &Tmainfrm::TimerCheckTimer);
  connect(btnview, &QPushButton::clicked, this, &Tmainfrm::btnviewClick);
  connect(btnonline, &QPushButton::clicked, this, &Tmainfrm::btnonlineClick);
  connect(btn_down, &QPushButton::clicked, this, &Tmainfrm::btn_downClick);
  connect(btniego, &QPushButton::clicked, this, &Tmainfrm::btniegoClick);
  connect(btn_home, &QPushButton::clicked, this, &Tmainfrm::btn_homeClick);
  edtqq->installEventFilter(this);
  edtieurl->installEventFilter(this);

  iedown->OnBeforeNavigate2 = [this](const QString& a, bool& cancel) { iedownBeforeNavigate2(a, cancel); };
  iedown->OnDocumentComplete = [this](const QString& a) { iedownDocumentComplete(a); };
  iedown->OnLoadFailed = [this](const QString& a) { PaneLoadFailed(*iedown, a); };
  ie->OnLoadFailed = [this](const QString& a) { PaneLoadFailed(*ie, a); };
  iedown->OnTickBoxChange = [this](const QString& id, bool checked) { iedownTickBoxChange(id, checked); };
  ie->OnBeforeNavigate2 = [this](const QString& a, bool& cancel) { ieBeforeNavigate2(a, cancel); };
  ie->OnTitleChange = [this](const QString& t) { ieTitleChange(t); };
  ie->OnStatusTextChange = [this](const QString& t) { ieStatusTextChange(t); };
  // Script errors of either pane are answered with continue: the default action of the callbacks.
}
