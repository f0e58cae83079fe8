#pragma once
// "Visitor information": the host name, robot flag, country code and comments of one
// client address, with a reverse lookup of the name on a worker and the Whois dialog
// for this visitor. OK writes the record to DNSLookUp.
#include <QDialog>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "reports/visit_details.h"
#include "shell/dialogs/whois_dialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace weavil {

class CountryNames;
class DbSession;
class ReverseResolver;

// The visitor of a session as the dialog starts: its address, URL, robot flag, country
// code (looked up from the address ranges when the visitor has none) and comments.
int32_t LoadVisitorForDialog(DbSession& session, int32_t numId, VisitorUpdate& visitor);

inline constexpr int kVisitorCommentsLimit = 499;

class VisitorInfoDialog : public QDialog, public WhoisTarget {
  Q_OBJECT

 public:
  // resolver null: the system's reverse name service.
  VisitorInfoDialog(const VisitorUpdate& visitor, const CountryNames& countries, QWidget* parent = nullptr,
                    ReverseResolver* resolver = nullptr);
  ~VisitorInfoDialog() override;

  // What OK wrote (valid after OK).
  const VisitorUpdate& Result() const { return result_; }
  // The write's result code (negative when the database refused it or did not open).
  int32_t SaveResult() const { return saveResult_; }
  // Why the write failed (the database's own message), empty when it did not.
  const std::string& SaveError() const { return saveError_; }

  QLineEdit* IpEdit() const { return ip_; }
  QPushButton* UrlButton() const { return urlButton_; }
  QLineEdit* UrlEdit() const { return url_; }
  QCheckBox* RobotBox() const { return robot_; }
  QLineEdit* CountryEdit() const { return country_; }
  QLabel* CountryName() const { return countryName_; }
  QPlainTextEdit* CommentsEdit() const { return comments_; }
  QPushButton* WhoisButton() const { return whoisButton_; }
  bool LookupRunning() const { return lookup_.joinable() && !lookupApplied_; }

  // WhoisTarget
  QWidget* TargetWindow() override { return this; }
  void SetUrlField(const QString& text) override;
  void SetCountryField(const QString& text) override;
  void SetCommentsField(const QString& text) override;

  // Lets a test answer the Whois dialog; the default runs it modally.
  void SetWhoisRunner(std::function<int(WhoisDialog&)> runner) { runWhois_ = std::move(runner); }

 public slots:
  void OnUrlLookup();
  void OnWhois();
  void accept() override;
  void reject() override;

 signals:
  // The URL lookup has ended and the field is editable again.
  void LookupFinished();

 private:
  void OnCountryChanged(const QString& text);
  void OnCommentsChanged();
  void WaitForLookup();
  void ApplyLookup();

  std::string address_;
  const CountryNames& countries_;
  ReverseResolver* resolver_;
  std::unique_ptr<ReverseResolver> ownResolver_;

  QLineEdit* ip_ = nullptr;
  QPushButton* urlButton_ = nullptr;
  QLineEdit* url_ = nullptr;
  QCheckBox* robot_ = nullptr;
  QLineEdit* country_ = nullptr;
  QLabel* countryName_ = nullptr;
  QPlainTextEdit* comments_ = nullptr;
  QPushButton* whoisButton_ = nullptr;

  std::thread lookup_;
  std::mutex lookupMutex_;
  std::optional<std::string> lookupName_;  // the name found, when there was one
  bool lookupApplied_ = true;
  bool closed_ = false;
  std::function<int(WhoisDialog&)> runWhois_;

  VisitorUpdate result_;
  int32_t saveResult_ = 0;
  std::string saveError_;
};

}  // namespace weavil
