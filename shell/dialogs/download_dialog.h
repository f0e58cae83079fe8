#pragma once
// "Log-file download": where the log is, how to log in, where the copy goes, and what
// follows the download. OK decides the offsets and stores the fields in the settings.
#include <QDialog>

#include <string>

#include "net/download.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace weavil {

struct Settings;

// Makes the local folder of a download (and its parents) when it is missing. The first
// run's folder beside the program becomes the per-user one ($XDG_DATA_HOME/Vyr/Weavil/
// log/) when the program's folder cannot take it (an installed program); folder then
// names the folder used. False, with the reason, when no folder can be had.
bool PrepareDownloadFolder(std::string& folder, const std::string& programDir, std::string& error);

class DownloadDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DownloadDialog(const Settings& settings, QWidget* parent = nullptr);

  // The fields as they stand.
  DownloadDialogValues Values() const;
  // What OK left for the worker (valid after OK).
  const DownloadRequest& Request() const { return request_; }
  // The folder whose "log/" is the first run's download folder (the running program's).
  void SetProgramDir(std::string programDir) { programDir_ = std::move(programDir); }

  QLineEdit* UrlEdit() const { return url_; }
  QCheckBox* LoginBox() const { return isLogin_; }
  QLineEdit* LoginEdit() const { return login_; }
  QLineEdit* PasswordEdit() const { return password_; }
  QLineEdit* PathEdit() const { return path_; }
  QPushButton* BrowseButton() const { return browse_; }
  QCheckBox* ResolveBox() const { return runResolve_; }
  QCheckBox* IncrementalBox() const { return incremental_; }

 public slots:
  void accept() override;

 private:
  void OnBrowse();
  void UpdateLogin();

  QLineEdit* url_ = nullptr;
  QCheckBox* isLogin_ = nullptr;
  QLineEdit* login_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* path_ = nullptr;
  QPushButton* browse_ = nullptr;
  QCheckBox* runResolve_ = nullptr;
  QCheckBox* incremental_ = nullptr;
  bool accepting_ = false;
  std::string programDir_;
  DownloadRequest request_;
};

}  // namespace weavil
