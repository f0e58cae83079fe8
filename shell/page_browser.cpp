#include "shell/page_browser.h"

#include <QDesktopServices>
#include <QPainter>
#include <QEvent>
#include <QScrollBar>

#include <cmath>
#include <utility>

#include "reports/embedded_pages.h"
#include "reports/visit_details.h"

namespace weavil {
namespace {

std::function<void(const QUrl&)>& LinkOpener() {
  static std::function<void(const QUrl&)> opener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  return opener;
}

}  // namespace

void PageBrowser::SetLinkOpener(std::function<void(const QUrl&)> opener) { LinkOpener() = std::move(opener); }

PageBrowser::PageBrowser(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setFrameShape(QFrame::StyledPanel);
  std::string_view picture = EmbeddedFile(kBackgroundFile);
  background_.loadFromData(reinterpret_cast<const uchar*>(picture.data()), static_cast<uint>(picture.size()));
  // The page is painted over the picture, so the viewport must not clear itself.
  viewport()->setAutoFillBackground(false);
  connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
    // The desktop opener runs whatever a scheme names; pages may hold addresses from logs.
    if (IsLinkUrl(url.toString(QUrl::FullyEncoded).toStdString())) LinkOpener()(url);
  });
}

std::string OpenImpliedRows(std::string_view html) {
  // The resource table starts each row's cells right after the previous "</tr>" and
  // leaves the new row to the parser; this one nests tables instead, so open it here.
  static constexpr std::string_view kBare = "</tr><td";
  std::string out;
  out.reserve(html.size() + 64);
  size_t at = 0;
  for (size_t found; (found = html.find(kBare, at)) != std::string_view::npos; at = found + kBare.size()) {
    out.append(html.substr(at, found - at));
    out.append("</tr><tr><td");
  }
  out.append(html.substr(at));
  return out;
}

std::string PaletteHtml(std::string_view html, const QPalette& palette) {
  const std::string base = palette.color(QPalette::Base).name().toStdString();
  const std::string face = palette.color(QPalette::Button).name().toStdString();
  const std::string text = palette.color(QPalette::Text).name().toStdString();
  // The template's own spellings of its two cell colours, as attributes and in CSS.
  const std::pair<std::string_view, std::string> kReplacements[] = {
      {"bgcolor=\"#ffffff\"", "bgcolor=\"" + base + "\""},
      {"background-color: #ffffff", "background-color: " + base},
      {"bgcolor=\"#c0c0c0\"", "bgcolor=\"" + face + "\""},
      {"background-color: #c0c0c0", "background-color: " + face},
      {"</style>", "body { color: " + text + "; }\n</style>"},
  };
  std::string out(html);
  for (const auto& [from, to] : kReplacements) {
    for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size()))
      out.replace(at, from.size(), to);
  }
  return out;
}

void PageBrowser::SetFollowPalette(bool follow) {
  followPalette_ = follow;
  SetHtml(html_);
}

void PageBrowser::changeEvent(QEvent* event) {
  QTextBrowser::changeEvent(event);
  if (followPalette_ && (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange))
    SetHtml(html_);
}

void PageBrowser::SetHtml(const std::string& html) {
  html_ = html;
  int scroll = verticalScrollBar()->value();
  std::string shown = OpenImpliedRows(followPalette_ ? PaletteHtml(html, palette()) : html);
  setHtml(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
  verticalScrollBar()->setValue(std::min(scroll, verticalScrollBar()->maximum()));
  UpdateStrayScrollBar();
}

void PageBrowser::SetHideStrayScrollBar(bool hide) {
  hideStrayScrollBar_ = hide;
  if (!hide) setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  UpdateStrayScrollBar();
}

void PageBrowser::UpdateStrayScrollBar() {
  if (!hideStrayScrollBar_) return;
  // The pages' full-width tables with their side margins come out a few pixels wider
  // than the view; a bar that scrolls only the margin is left off.
  const int overflow = static_cast<int>(std::ceil(document()->size().width())) - viewport()->width();
  setHorizontalScrollBarPolicy(overflow > 0 && overflow <= kStrayOverflow ? Qt::ScrollBarAlwaysOff
                                                                          : Qt::ScrollBarAsNeeded);
}

void PageBrowser::resizeEvent(QResizeEvent* event) {
  QTextBrowser::resizeEvent(event);
  UpdateStrayScrollBar();
}

QVariant PageBrowser::loadResource(int type, const QUrl& name) {
  std::string path = name.toString().toStdString();
  // The background picture is drawn once in the corner, not tiled by the page.
  if (path == kBackgroundFile) return QVariant();
  std::string_view bytes = EmbeddedFile(path);
  if (!bytes.empty()) {
    if (type == QTextDocument::ImageResource) {
      QImage image;
      image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()));
      return image;
    }
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  // Nothing else is fetched: the pages are local and their links open outside.
  return QVariant();
}

void PageBrowser::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().base());
    if (!background_.isNull())
      painter.drawPixmap(viewport()->width() - background_.width(), viewport()->height() - background_.height(),
                         background_);
  }
  QTextBrowser::paintEvent(event);
}

}  // namespace weavil
