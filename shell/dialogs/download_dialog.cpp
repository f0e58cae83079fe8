#include "shell/dialogs/download_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "settings/settings.h"
#include "settings/settings_store.h"
#include "store/data_source_registry.h"
#include "shell/dialogs/context_help.h"
#include "shell/dialogs/dialog_parts.h"
#include "shell/dialogs/dialog_prompts.h"

namespace weavil {
namespace {

// The dialog reads at most 99 characters of each field.
constexpr int kFieldLimit = 99;

QLineEdit* MakeEdit(const std::string& text, const char* name, QWidget* parent) {
  auto* edit = MakeNamed<QLineEdit>(name, QString::fromStdString(text), parent);
  edit->setMaxLength(kFieldLimit);
  return edit;
}

bool FolderUsable(const std::string& folder, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!ec && !std::filesystem::is_directory(folder, ec)) ec = std::make_error_code(std::errc::not_a_directory);
  if (!ec && ::access(folder.c_str(), W_OK) != 0) ec = std::error_code(errno, std::generic_category());
  if (ec) error = "Cannot create the folder " + folder + ": " + ec.message();
  return !ec;
}

}  // namespace

bool PrepareDownloadFolder(std::string& folder, const std::string& programDir, std::string& error) {
  if (folder.empty()) return true;  // the current folder
  if (FolderUsable(folder, error)) return true;
  if (programDir.empty() || folder != DefaultDownloadFolder(programDir)) return false;
  std::string own = UserDataDir() + "/log/";
  std::string ownError;
  if (!FolderUsable(own, ownError)) return false;
  folder = own;
  return true;
}

DownloadDialog::DownloadDialog(const Settings& settings, QWidget* parent)
    : QDialog(parent), programDir_(ProgramDir()) {
  setWindowTitle(QStringLiteral("Log-file download"));
  setObjectName(QStringLiteral("downloadDialog"));

  url_ = MakeEdit(settings.url, "serverUrl", this);
  url_->setMinimumWidth(360);
  url_->setPlaceholderText(QStringLiteral("http://www.example.com/logs/access.log"));
  isLogin_ = MakeCheckBox(QStringLiteral("Login"), "isLogin", settings.isLogin, this);
  login_ = MakeEdit(settings.login, "login", this);
  password_ = MakeEdit(settings.pass, "password", this);
  password_->setEchoMode(QLineEdit::Password);
  path_ = MakeEdit(settings.path, "localPath", this);
  browse_ = MakeChooserButton(QStringLiteral("browse"), this);
  runResolve_ = MakeCheckBox(QStringLiteral("Run resolve IP on finish"), "runResolve", settings.isAutoResolve, this);
  incremental_ = MakeCheckBox(QStringLiteral("Incremental"), "incremental", settings.isIncremental, this);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Server Url"), this), 0, 0);
  grid->addWidget(url_, 0, 1, 1, 2);
  grid->addWidget(isLogin_, 1, 0);
  grid->addWidget(login_, 1, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Password"), this), 2, 0);
  grid->addWidget(password_, 2, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Local path"), this), 3, 0);
  grid->addWidget(path_, 3, 1);
  grid->addWidget(browse_, 3, 2);
  grid->addWidget(runResolve_, 4, 1, 1, 2);
  grid->addWidget(incremental_, 5, 1, 1, 2);

  QDialogButtonBox* buttons = MakeOkCancel(this, "buttons");
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  connect(isLogin_, &QCheckBox::toggled, this, &DownloadDialog::UpdateLogin);
  connect(browse_, &QPushButton::clicked, this, &DownloadDialog::OnBrowse);
  UpdateLogin();
  InstallContextHelp(this, QStringLiteral("DownloadDialog"));
}

void DownloadDialog::UpdateLogin() {
  login_->setEnabled(isLogin_->isChecked());
  password_->setEnabled(isLogin_->isChecked());
}

void DownloadDialog::OnBrowse() {
  QString folder = DialogPromptsInUse().chooseFolder(this, path_->text());
  if (folder.isEmpty()) return;
  path_->setText(QString::fromStdString(WithTrailingSlash(folder.toStdString())));
}

DownloadDialogValues DownloadDialog::Values() const {
  DownloadDialogValues values;
  values.url = url_->text().trimmed().toStdString();
  values.localPath = WithTrailingSlash(path_->text().trimmed().toStdString());
  values.isLogin = isLogin_->isChecked();
  values.login = login_->text().toStdString();
  values.password = password_->text().toStdString();
  values.runResolve = runResolve_->isChecked();
  values.incremental = incremental_->isChecked();
  return values;
}

void DownloadDialog::accept() {
  // A second OK while the first is handled does nothing.
  if (accepting_) return;
  accepting_ = true;
  DownloadDialogValues values = Values();
  std::string error;
  if (!PrepareDownloadFolder(values.localPath, programDir_, error)) {
    DialogPromptsInUse().showError(this, QStringLiteral("Error"), QString::fromStdString(error));
    accepting_ = false;
    return;
  }
  path_->setText(QString::fromStdString(values.localPath));
  {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    StoreDownloadSettings(values, AppSettings());
  }
  request_ = PrepareDownloadRequest(values, CopySettings());
  QDialog::accept();
}

}  // namespace weavil
