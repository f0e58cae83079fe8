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

// The page in the palette's colours: the white value cells become the palette's base,
// the silver label cells its button face, and the text its text colour, so the page
// stays readable in a dark theme. The teal headings keep their white text.
std::string PaletteHtml(std::string_view html, const QPalette& palette);

class PageBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  explicit PageBrowser(QWidget* parent = nullptr);

  void SetHtml(const std::string& html);
  // Shows the pages in the palette's colours (PaletteHtml), now and after every
  // palette change; off shows them in their own fixed colours.
  void SetFollowPalette(bool follow);
  // Leaves off a horizontal scroll bar that would scroll no more than kStrayOverflow
  // pixels of margin; wider pages keep theirs.
  void SetHideStrayScrollBar(bool hide);
  static constexpr int kStrayOverflow = 16;
  const std::string& Html() const { return html_; }

  // Where a clicked link goes (the desktop browser; tests replace it).
  static void SetLinkOpener(std::function<void(const QUrl&)> opener);

 protected:
  QVariant loadResource(int type, const QUrl& name) override;
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::string html_;
  QPixmap background_;
  bool followPalette_ = false;
  bool hideStrayScrollBar_ = false;

  void UpdateStrayScrollBar();
};

}  // namespace weavil
