#pragma once
// "Whois": one query to a registry server, the raw answer, and (when opened from the
// Visitor information dialog) three buttons that copy the selected part of the answer
// into the visitor's URL, country code and comments.
#include <QDialog>
#include <QString>

#include <string>

#include "net/whois_client.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace weavil {

// The visitor fields the transfer buttons write into.
class WhoisTarget {
 public:
  virtual ~WhoisTarget() = default;
  virtual QWidget* TargetWindow() = 0;
  virtual void SetUrlField(const QString& text) = 0;
  virtual void SetCountryField(const QString& text) = 0;
  virtual void SetCommentsField(const QString& text) = 0;
};

class WhoisDialog : public QDialog {
  Q_OBJECT

 public:
  // target null: the free-standing tool of the main menu, centred over owner, without the
  // transfer buttons. Otherwise the dialog sits below the target's window.
  WhoisDialog(QWidget* owner, WhoisTarget* target, const QString& query, const QString& server,
              const QString& answer);
  ~WhoisDialog() override;

  // The state OK copies back.
  QString Query() const { return query_; }
  QString Server() const { return server_; }
  QString Answer() const { return answer_; }

  QLineEdit* UrlEdit() const { return url_; }
  QComboBox* ServerBox() const { return servers_; }
  QPlainTextEdit* AnswerBox() const { return answerBox_; }
  QPushButton* WhoisButton() const { return whois_; }
  QPushButton* UrlButton() const { return toUrl_; }
  QPushButton* CountryButton() const { return toCountry_; }
  QPushButton* CommentsButton() const { return toComments_; }
  bool WorkerRunning() const { return worker_.IsRunning(); }

  // The answer box's text and selection as the answer holds them ("\r\n" line ends).
  std::string SelectedAnswer() const;

 public slots:
  void OnWhois();
  void accept() override;
  void reject() override;

 signals:
  // An answer has been shown (tests wait for it).
  void AnswerShown();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetAnswerBox(const QString& answer);
  // The selection, its first length bytes, into one of the target's fields (nothing
  // without a target or a selection).
  void TransferSelection(void (WhoisTarget::*field)(const QString&), size_t length = std::string::npos);
  void StopWorker();

  WhoisTarget* target_;
  QLineEdit* url_ = nullptr;
  QComboBox* servers_ = nullptr;
  QPlainTextEdit* answerBox_ = nullptr;
  QPushButton* whois_ = nullptr;
  QPushButton* toUrl_ = nullptr;
  QPushButton* toCountry_ = nullptr;
  QPushButton* toComments_ = nullptr;
  QString query_;
  QString server_;
  QString answer_;
  bool placed_ = false;
  bool closed_ = false;
  WhoisWorker worker_;
};

}  // namespace weavil
