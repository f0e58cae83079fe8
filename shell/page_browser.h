#pragma once
// The pane that shows the program's own pages (the start page and the visit details):
// a text browser that finds the pages' pictures among the embedded files, draws the
// background picture once at the bottom right, and opens web and FTP links (no other
// scheme) in the desktop browser.
#include <QPixmap>
#include <QTextBrowser>

#include <functional>
#include <string>
#include <string_view>

namespace weavil {

// The page as the text browser needs it: a row whose cells follow "</tr>" directly gets
// its "<tr>" (a web browser's parser adds it by itself).
std::string OpenImpliedRows(std::string_view html);

class PageBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  explicit PageBrowser(QWidget* parent = nullptr);

  void SetHtml(const std::string& html);
  const std::string& Html() const { return html_; }

  // Where a clicked link goes (the desktop browser; tests replace it).
  static void SetLinkOpener(std::function<void(const QUrl&)> opener);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string html_;
  QPixmap background_;
};

}  // namespace weavil
