#include "shell/dialogs/resolve_ip_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "shell/dialogs/dialog_parts.h"
#include "shell/dialogs/dialog_prompts.h"
#include "store/result.h"

namespace weavil {
namespace {

constexpr int kDoneRole = Qt::UserRole;

}  // namespace

ResolveIpDialog::ResolveIpDialog(bool autoStart, QWidget* parent, ReverseResolver* resolver) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Resolve IP"));
  setObjectName(QStringLiteral("resolveIpDialog"));

  list_ = MakeNamed<QTreeWidget>("list", this);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({QStringLiteral("IP"), QStringLiteral("URL")});
  list_->setColumnWidth(0, 130);
  list_->setColumnWidth(1, 360);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  allUnresolved_ = MakeCheckBox(QStringLiteral("All unresolved"), "allUnresolved", 0, this);
  start_ = MakeNamed<QPushButton>("start", QStringLiteral("Start"), this);
  stop_ = MakeNamed<QPushButton>("stop", QStringLiteral("Stop"), this);
  ok_ = MakeNamed<QPushButton>("ok", QStringLiteral("OK"), this);
  cancel_ = MakeNamed<QPushButton>("cancel", QStringLiteral("Cancel"), this);
  for (QPushButton* button : {start_, stop_, ok_, cancel_}) button->setAutoDefault(false);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* left = new QVBoxLayout;
  left->addWidget(list_, 1);
  left->addWidget(allUnresolved_);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addLayout(buttons);
  resize(640, 420);

  connect(start_, &QPushButton::clicked, this, &ResolveIpDialog::OnStart);
  connect(stop_, &QPushButton::clicked, this, &ResolveIpDialog::OnStop);
  connect(ok_, &QPushButton::clicked, this, &ResolveIpDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, [this] { QDialog::reject(); });
  connect(allUnresolved_, &QCheckBox::toggled, this, [this] {
    if (!Running()) FillList();
  });

  stop_->setEnabled(false);
  if (Failed(OpenSourceSession(session_))) return;  // the list stays empty
  if (!resolver) {
    ownResolver_ = std::make_unique<SystemReverseResolver>();
    resolver = ownResolver_.get();
  }
  run_ = std::make_unique<ResolveRun>(session_, *resolver, this);
  FillList();
  if (autoStart) {
    run_->SetAutoClose(true);
    QTimer::singleShot(0, this, &ResolveIpDialog::OnStart);
  }
}

ResolveIpDialog::~ResolveIpDialog() {
  // Every worker has ended before the session closes.
  run_.reset();
  session_.Close();
}

void ResolveIpDialog::FillList() {
  list_->clear();
  if (!run_) return;
  run_->FillList(allUnresolved_->isChecked());
  QList<QTreeWidgetItem*> items;
  for (const ResolveRow& row : run_->Rows()) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(row.ip), QString()});
    item->setData(0, kDoneRole, 0);
    items.append(item);
  }
  list_->addTopLevelItems(items);
}

int ResolveIpDialog::DoneMark(int row) const {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  return item ? item->data(0, kDoneRole).toInt() : 0;
}

void ResolveIpDialog::OnStart() {
  if (!run_ || Running() || closing_) return;
  ShowRunning(true);
  run_->Start();
}

void ResolveIpDialog::ShowRunning(bool running) {
  // While a run goes on only Stop acts.
  for (QWidget* control : std::initializer_list<QWidget*>{start_, ok_, cancel_, allUnresolved_})
    control->setEnabled(!running);
  stop_->setEnabled(running);
}

void ResolveIpDialog::OnStop() {
  if (run_) run_->Stop();
  stop_->setEnabled(false);
}

void ResolveIpDialog::reject() {
  stop_->setEnabled(false);
  if (!run_ || run_->RequestClose()) {
    QDialog::reject();
    return;
  }
  // The dispatcher closes the window when its last worker has ended.
  closing_ = true;
}

void ResolveIpDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

// Called on worker threads; the list belongs to the dialog's thread.
void ResolveIpDialog::RowChanged(size_t row, const std::string& url) {
  QString text = QString::fromStdString(url);
  QMetaObject::invokeMethod(
      this,
      [this, row, text] {
        QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(row));
        if (!item) return;
        item->setText(1, text);
        if (text != QStringLiteral("*")) item->setData(0, kDoneRole, 1);
      },
      Qt::QueuedConnection);
}

void ResolveIpDialog::RunFinished(bool autoClose) {
  QMetaObject::invokeMethod(this, [this, autoClose] { OnRunFinished(autoClose); }, Qt::QueuedConnection);
}

void ResolveIpDialog::OnRunFinished(bool autoClose) {
  if (run_) run_->Wait();
  // A name that could not be written (a read-only or busy database) is not resolved, and
  // the user must hear it: the list alone would show it done.
  if (run_ && run_->FailedWrites() > 0)
    DialogPromptsInUse().showError(
        this, QStringLiteral("Error"),
        QStringLiteral("Cannot store the host names in the database %1: %2 (%3 not stored; the addresses stay unresolved)")
            .arg(QString::fromStdString(session_.ShownPath()), QString::fromStdString(run_->FirstWriteError()))
            .arg(run_->FailedWrites()));
  if (autoClose) {
    // A run that closes itself ends as Cancel.
    QDialog::reject();
    return;
  }
  ShowRunning(false);
  emit RunCompleted();
}

}  // namespace weavil
