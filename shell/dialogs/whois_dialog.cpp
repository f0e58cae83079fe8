#include "shell/dialogs/whois_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QVBoxLayout>

#include "settings/settings.h"
#include "shell/dialogs/context_help.h"
#include "shell/dialogs/dialog_parts.h"

namespace weavil {
namespace {

constexpr int kWhoisFieldLimit = 499;

// The box shows plain line breaks; the answer keeps "\r\n" as the exchange made it.
QString ForDisplay(const QString& answer) {
  QString text = answer;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

// Selections go to the visitor's fields with plain line breaks.
QString ForField(const std::string& text) {
  QString field = QString::fromStdString(text);
  field.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return field;
}

}  // namespace

WhoisDialog::WhoisDialog(QWidget* owner, WhoisTarget* target, const QString& query, const QString& server,
                         const QString& answer)
    : QDialog(target ? target->TargetWindow() : owner), target_(target), query_(query), server_(server),
      answer_(answer) {
  setWindowTitle(QStringLiteral("Whois"));
  setObjectName(QStringLiteral("whoisDialog"));

  url_ = MakeNamed<QLineEdit>("url", query, this);
  url_->setMaxLength(kWhoisFieldLimit);
  servers_ = MakeNamed<QComboBox>("server", this);
  servers_->setEditable(true);
  servers_->setInsertPolicy(QComboBox::NoInsert);
  servers_->lineEdit()->setMaxLength(kWhoisFieldLimit);
  for (const std::string& name : WhoisServers()) servers_->addItem(QString::fromStdString(name));
  servers_->setCurrentIndex(FindWhoisServerEntry(server.toStdString()));
  whois_ = MakeNamed<QPushButton>("whois", QStringLiteral("WHOIS"), this);
  whois_->setDefault(true);
  answerBox_ = MakeNamed<QPlainTextEdit>("answer", this);
  answerBox_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  answerBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
  SetAnswerBox(answer);
  toUrl_ = MakeNamed<QPushButton>("toUrl", QStringLiteral("URL->"), this);
  toCountry_ = MakeNamed<QPushButton>("toCountry", QStringLiteral("Country->"), this);
  toComments_ = MakeNamed<QPushButton>("toComments", QStringLiteral("Comments->"), this);
  for (QPushButton* button : {toUrl_, toCountry_, toComments_}) button->setAutoDefault(false);

  auto* top = new QGridLayout;
  top->addWidget(new QLabel(QStringLiteral("URL"), this), 0, 0);
  top->addWidget(url_, 0, 1);
  top->addWidget(new QLabel(QStringLiteral("WHOIS"), this), 1, 0);
  top->addWidget(servers_, 1, 1);
  top->addWidget(whois_, 0, 2, 2, 1);
  top->setColumnStretch(1, 1);
  auto* transfer = new QHBoxLayout;
  transfer->addWidget(toUrl_);
  transfer->addWidget(toCountry_);
  transfer->addWidget(toComments_);
  transfer->addStretch(1);
  transfer->addWidget(MakeOkCancel(this, "buttons"));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(answerBox_, 1);
  layout->addLayout(transfer);
  resize(560, 420);

  if (!target_) {
    toUrl_->hide();
    toCountry_->hide();
    toComments_->hide();
  }

  connect(whois_, &QPushButton::clicked, this, &WhoisDialog::OnWhois);
  connect(toUrl_, &QPushButton::clicked, this, [this] { TransferSelection(&WhoisTarget::SetUrlField); });
  connect(toCountry_, &QPushButton::clicked, this, [this] { TransferSelection(&WhoisTarget::SetCountryField, 2); });
  connect(toComments_, &QPushButton::clicked, this, [this] { TransferSelection(&WhoisTarget::SetCommentsField); });
  InstallContextHelp(this, QStringLiteral("WhoisDialog"));
}

WhoisDialog::~WhoisDialog() { StopWorker(); }

void WhoisDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (placed_) return;
  placed_ = true;
  if (target_ && target_->TargetWindow()) {
    // Directly below the visitor dialog, left edges aligned.
    QRect frame = target_->TargetWindow()->frameGeometry();
    move(frame.left(), frame.bottom() + 1);
  } else if (QWidget* owner = parentWidget()) {
    QRect area = owner->window()->frameGeometry();
    move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
}

void WhoisDialog::TransferSelection(void (WhoisTarget::*field)(const QString&), size_t length) {
  std::string selected = SelectedAnswer();
  if (target_ && !selected.empty()) (target_->*field)(ForField(selected.substr(0, length)));
}

void WhoisDialog::SetAnswerBox(const QString& answer) { answerBox_->setPlainText(ForDisplay(answer)); }

std::string WhoisDialog::SelectedAnswer() const {
  // Positions in the box count each line break once; the answer holds "\r\n".
  const QString shown = answerBox_->toPlainText();
  QTextCursor cursor = answerBox_->textCursor();
  auto toAnswer = [&shown](int position) {
    int breaks = static_cast<int>(shown.left(position).count(QLatin1Char('\n')));
    return static_cast<size_t>(position + breaks);
  };
  QString boxText = shown;
  boxText.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  std::string box = boxText.toStdString();
  // The 4,999-character window counts bytes of the box as the exchange delivered them.
  QByteArray before = boxText.left(static_cast<qsizetype>(toAnswer(cursor.selectionStart()))).toUtf8();
  QByteArray through = boxText.left(static_cast<qsizetype>(toAnswer(cursor.selectionEnd()))).toUtf8();
  return WhoisSelection(box, static_cast<size_t>(before.size()), static_cast<size_t>(through.size()));
}

void WhoisDialog::OnWhois() {
  if (worker_.IsRunning()) return;
  closed_ = false;
  query_ = url_->text();
  server_ = servers_->currentText();
  answer_ = answerBox_->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  whois_->setEnabled(false);
  WhoisRequest request = MakeWhoisRequest(query_.toStdString(), server_.toStdString(), CopySettings());
  bool started = worker_.Start(request, [this](const WhoisRequest& sent, const WhoisResult& result) {
    QString query = QString::fromStdString(sent.query);
    QString server = QString::fromStdString(sent.server);
    QString answer = QString::fromStdString(result.answer);
    QMetaObject::invokeMethod(
        this,
        [this, query, server, answer] {
          if (closed_) return;  // OK or Cancel came first
          query_ = query;
          server_ = server;
          answer_ = answer;
          whois_->setEnabled(true);
          url_->setText(query);
          servers_->setEditText(server);
          SetAnswerBox(answer);
          emit AnswerShown();
        },
        Qt::QueuedConnection);
  });
  if (!started) whois_->setEnabled(true);
}

void WhoisDialog::StopWorker() {
  // Stop ends a hanging exchange at once; the worker then touches the dialog no more.
  worker_.Stop();
  worker_.Wait();
}

void WhoisDialog::accept() {
  query_ = url_->text();
  server_ = servers_->currentText();
  answer_ = answerBox_->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  closed_ = true;
  StopWorker();
  QDialog::accept();
}

void WhoisDialog::reject() {
  closed_ = true;
  StopWorker();
  QDialog::reject();
}

}  // namespace weavil
