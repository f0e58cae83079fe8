#include "shell/dialogs/visitor_info_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>


#include <algorithm>

#include "net/host_resolver.h"
#include "reports/country_names.h"
#include "shell/dialogs/dialog_parts.h"
#include "store/database.h"
#include "store/result.h"

namespace weavil {

int32_t LoadVisitorForDialog(DbSession& session, int32_t numId, VisitorUpdate& visitor) {
  VisitDetails details;
  int32_t result = LoadVisitDetails(session, numId, details);
  if (result != kResultOk) return Failed(result) ? result : kResultFalse;
  visitor.address = details.address;
  visitor.url = details.url;
  visitor.robot = details.robot;
  visitor.countryCode = details.countryCode;
  visitor.comments = details.description;
  if (visitor.countryCode.empty()) visitor.countryCode = LookupVisitorCountryCode(session, visitor.address);
  return kResultOk;
}

VisitorInfoDialog::VisitorInfoDialog(const VisitorUpdate& visitor, const CountryNames& countries, QWidget* parent,
                                     ReverseResolver* resolver)
    : QDialog(parent), address_(visitor.address), countries_(countries), resolver_(resolver) {
  setWindowTitle(QStringLiteral("Visitor information"));
  setObjectName(QStringLiteral("visitorInfoDialog"));
  if (!resolver_) {
    ownResolver_ = std::make_unique<SystemReverseResolver>();
    resolver_ = ownResolver_.get();
  }

  ip_ = MakeNamed<QLineEdit>("ip", QString::fromStdString(visitor.address), this);
  ip_->setReadOnly(true);
  urlButton_ = MakeNamed<QPushButton>("urlLookup", QStringLiteral("URL"), this);
  urlButton_->setAutoDefault(false);
  urlButton_->setToolTip(QStringLiteral("Look the host name up again"));
  url_ = MakeNamed<QLineEdit>("url", QString::fromStdString(visitor.url), this);
  url_->setMaxLength(255);
  url_->setMinimumWidth(300);
  robot_ = MakeCheckBox(QStringLiteral("Robot"), "robot", visitor.robot, this);
  country_ = MakeNamed<QLineEdit>("countryCode", this);
  country_->setMaxLength(2);
  country_->setFixedWidth(country_->fontMetrics().horizontalAdvance(QStringLiteral("WWW")) + 12);
  countryName_ = MakeNamed<QLabel>("countryName", this);
  comments_ = MakeNamed<QPlainTextEdit>("comments", this);
  comments_->setTabChangesFocus(true);
  comments_->setPlainText(QString::fromStdString(visitor.comments).left(kVisitorCommentsLimit));
  whoisButton_ = MakeNamed<QPushButton>("whois", QStringLiteral("Whois"), this);
  whoisButton_->setAutoDefault(false);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("IP"), this), 0, 0);
  grid->addWidget(ip_, 0, 1, 1, 2);
  grid->addWidget(urlButton_, 1, 0);
  grid->addWidget(url_, 1, 1, 1, 2);
  grid->addWidget(robot_, 2, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Country code"), this), 3, 0);
  grid->addWidget(country_, 3, 1);
  grid->addWidget(countryName_, 3, 2);
  grid->addWidget(new QLabel(QStringLiteral("Comments"), this), 4, 0, Qt::AlignTop);
  grid->addWidget(comments_, 4, 1, 1, 2);
  grid->setColumnStretch(2, 1);

  QDialogButtonBox* buttons = MakeOkCancel(this, "buttons");
  auto* row = new QHBoxLayout;
  row->addWidget(whoisButton_);
  row->addStretch(1);
  row->addWidget(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(row);

  connect(country_, &QLineEdit::textChanged, this, &VisitorInfoDialog::OnCountryChanged);
  connect(comments_, &QPlainTextEdit::textChanged, this, &VisitorInfoDialog::OnCommentsChanged);
  connect(urlButton_, &QPushButton::clicked, this, &VisitorInfoDialog::OnUrlLookup);
  connect(whoisButton_, &QPushButton::clicked, this, &VisitorInfoDialog::OnWhois);

  country_->setText(QString::fromStdString(visitor.countryCode).left(2));
  OnCountryChanged(country_->text());
}

VisitorInfoDialog::~VisitorInfoDialog() {
  closed_ = true;
  if (lookup_.joinable()) lookup_.join();
}

void VisitorInfoDialog::OnCountryChanged(const QString& text) {
  // The code is always shown and kept in upper case.
  QString upper = text.toUpper();
  if (upper != text) {
    int cursor = country_->cursorPosition();
    QSignalBlocker block(country_);
    country_->setText(upper);
    country_->setCursorPosition(cursor);
  }
  countryName_->setText(QString::fromStdString(countries_.NameOf(upper.toStdString())));
}

void VisitorInfoDialog::OnCommentsChanged() {
  QString text = comments_->toPlainText();
  if (text.size() <= kVisitorCommentsLimit) return;
  QSignalBlocker block(comments_);
  QTextCursor cursor = comments_->textCursor();
  int position = std::min(cursor.position(), kVisitorCommentsLimit);
  comments_->setPlainText(text.left(kVisitorCommentsLimit));
  cursor = comments_->textCursor();
  cursor.setPosition(position);
  comments_->setTextCursor(cursor);
}

void VisitorInfoDialog::OnUrlLookup() {
  if (lookup_.joinable()) return;
  url_->setReadOnly(true);
  urlButton_->setEnabled(false);
  {
    std::lock_guard<std::mutex> lock(lookupMutex_);
    lookupName_.reset();
    lookupApplied_ = false;
  }
  lookup_ = std::thread([this] {
    std::string name;
    bool found = resolver_->LookUp(address_, name);
    {
      std::lock_guard<std::mutex> lock(lookupMutex_);
      if (found) lookupName_ = name;
    }
    QMetaObject::invokeMethod(this, [this] { ApplyLookup(); }, Qt::QueuedConnection);
  });
}

// On the dialog's thread, once: the name into the field, the field editable again.
void VisitorInfoDialog::ApplyLookup() {
  if (lookup_.joinable()) lookup_.join();
  std::optional<std::string> name;
  {
    std::lock_guard<std::mutex> lock(lookupMutex_);
    if (lookupApplied_) return;
    lookupApplied_ = true;
    name = lookupName_;
  }
  if (closed_) return;
  if (name) url_->setText(QString::fromStdString(*name));
  url_->setReadOnly(false);
  urlButton_->setEnabled(true);
  emit LookupFinished();
}

void VisitorInfoDialog::WaitForLookup() {
  if (!lookup_.joinable()) return;
  lookup_.join();
  // The answer counts: it is in the field before OK reads it.
  ApplyLookup();
}

void VisitorInfoDialog::SetUrlField(const QString& text) { url_->setText(text.trimmed()); }
void VisitorInfoDialog::SetCountryField(const QString& text) { country_->setText(text.left(2)); }
void VisitorInfoDialog::SetCommentsField(const QString& text) { comments_->setPlainText(text); }

void VisitorInfoDialog::OnWhois() {
  // What the transfer buttons may change, to put back when the Whois dialog is cancelled.
  const QString url = url_->text();
  const QString country = country_->text();
  const QString comments = comments_->toPlainText();
  std::string query = WhoisQueryForVisitor(url.trimmed().toStdString(), ip_->text().toStdString());
  std::string server = ChooseWhoisServer(country.toUpper().toStdString());
  WhoisDialog whois(this, this, QString::fromStdString(query), QString::fromStdString(server), QString());
  int answer = runWhois_ ? runWhois_(whois) : whois.exec();
  if (answer == QDialog::Accepted) {
    url_->setText(url_->text().trimmed());
    country_->setText(country_->text().toUpper());
  } else {
    url_->setText(url);
    country_->setText(country);
    comments_->setPlainText(comments);
  }
}

void VisitorInfoDialog::accept() {
  WaitForLookup();
  result_ = VisitorDialogResult(address_, url_->text().toStdString(), robot_->isChecked(),
                                country_->text().toStdString(), comments_->toPlainText().toStdString());
  DbSession session;
  saveResult_ = OpenSourceSession(session);
  if (Failed(saveResult_)) {
    saveError_ = "cannot open " + LogDataSource::Obtain().Describe();
  } else {
    saveResult_ = UpdateVisitor(session, result_);
    if (Failed(saveResult_)) saveError_ = session.LastError().message;
  }
  closed_ = true;
  QDialog::accept();
}

void VisitorInfoDialog::reject() {
  WaitForLookup();
  closed_ = true;
  QDialog::reject();
}

}  // namespace weavil
